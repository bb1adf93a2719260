#include "ui/BuddyLabel.h"
#include "ui/FileDragList.h"
#include "ui/ListColumns.h"
#include "ui/LocalPCGroup.h"
#include "session/ConnectionSettings.h"
#include "ui/UserMessages.h"

#include <QComboBox>
#include <QCompleter>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QFontDatabase>
#include <QGridLayout>
#include <QListWidget>
#include <QPushButton>
#include <QStorageInfo>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>
#include <dirent.h>
#include <sys/stat.h>

namespace {

QPushButton *Button(const char *name, const QString &caption, const QString &accessibleName)
{
    auto *button = new QPushButton(caption);
    button->setObjectName(name);
    button->setAccessibleName(accessibleName);
    return button;
}

constexpr int kFolderPathRole = Qt::UserRole; // the folder an item of the folder list stands for

// One line of the PC list: the name is its text, size and time are its sort keys.
QListWidgetItem *FileItem(const QFileInfo &file)
{
    // The name itself stays with the item; the list shows it with its format characters visible.
    auto *item = new TColumnItem(VisibleText(file.fileName()));
    item->setData(Qt::UserRole, file.fileName());
    const qint64 modified = file.lastModified().toMSecsSinceEpoch();
    item->setData(kSortKeyRole, file.fileName().toCaseFolded());
    item->setData(kSortKeyRole + 1, file.size());
    item->setData(kSortKeyRole + 2, modified);
    // A screen reader hears the columns the eye sees.
    item->setData(Qt::AccessibleTextRole, item->text() + ", " + TPCFileColumns::SizeText(file.size())
                                              + " bytes, " + TPCFileColumns::TimeText(modified));
    return item;
}

} // namespace

TLocalPCGroup::TLocalPCGroup(QWidget *parent) : QGroupBox("Local PC", parent)
{
    setObjectName("GroupBoxPC");
    setAccessibleName("Local PC");
    setMinimumSize(209, 361);

    DriveComboBoxPC = new QComboBox;
    DriveComboBoxPC->setObjectName("DriveComboBoxPC");
    DriveComboBoxPC->setAccessibleName("PC folder");
    DriveComboBoxPC->setEditable(true);
    DriveComboBoxPC->setInsertPolicy(QComboBox::NoInsert);
    DriveComboBoxPC->lineEdit()->setAccessibleName("PC folder");
    DriveComboBoxPC->setToolTip("Type a folder and press Enter, or choose a volume");
    // Typed folders complete from the file system; Enter goes there, not to a volume whose
    // name the text happens to match.
    auto *completer = new QCompleter(this);
    auto *folders = new QFileSystemModel(completer);
    folders->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
    folders->setRootPath(QString());
    completer->setModel(folders);
    DriveComboBoxPC->setCompleter(completer);
    disconnect(DriveComboBoxPC->lineEdit(), &QLineEdit::returnPressed, DriveComboBoxPC, nullptr);
    connect(DriveComboBoxPC->lineEdit(), &QLineEdit::returnPressed, this, &TLocalPCGroup::PathEntered);

    DirectoryListBoxPC = new QListWidget;
    DirectoryListBoxPC->setObjectName("DirectoryListBoxPC");
    DirectoryListBoxPC->setAccessibleName("PC folders");
    FileListBoxPC = new TFileDragList;
    FileListBoxPC->setObjectName("FileListBoxPC");
    FileListBoxPC->setAccessibleName("PC files");
    FileListBoxPC->setSelectionMode(QAbstractItemView::ExtendedSelection);
    FileListBoxPC->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    FileListBoxPC->OnDragData = [this] {
        QStringList paths;
        for (const std::string &name : SelectedNames())
            paths.push_back(QDir::current().absoluteFilePath(QFile::decodeName(QByteArray::fromStdString(name))));
        return LocalFilesMimeData(paths);
    };
    HeaderPCFiles = new TListHeader(FileListBoxPC, {"Name", "Size", "Modified"});
    HeaderPCFiles->setObjectName("HeaderPCFiles");
    HeaderPCFiles->setAccessibleName("PC file columns");
    HeaderPCFiles->setFont(FileListBoxPC->font());
    HeaderPCFiles->AlignColumn(1, Qt::AlignRight);
    const QFontMetrics pitch(FileListBoxPC->font());
    HeaderPCFiles->setSectionResizeMode(0, QHeaderView::Stretch);
    HeaderPCFiles->resizeSection(1, pitch.horizontalAdvance("9999999999") + 12);
    HeaderPCFiles->resizeSection(2, pitch.horizontalAdvance("2026-12-31 23:59") + 12);
    HeaderPCFiles->setStretchLastSection(false);
    FileListBoxPC->setItemDelegate(new TPCFileColumns(HeaderPCFiles, FileListBoxPC));
    connect(HeaderPCFiles, &QHeaderView::sectionResized, FileListBoxPC->viewport(), qOverload<>(&QWidget::update));
    HeaderPCFiles->SortBy(0, Qt::AscendingOrder);

    FilterComboBoxPC = new QComboBox;
    FilterComboBoxPC->setObjectName("FilterComboBoxPC");
    FilterComboBoxPC->setAccessibleName("PC file filter");
    BtnMkDirPC = Button("BtnMkDirPC", "M&kDir", "Make PC folder");
    BtnRmDirPC = Button("BtnRmDirPC", "RmD&ir", "Remove PC folder");
    BtnRenamePC = Button("BtnRenamePC", "Re&name", "Rename PC file");
    BtnDeletePC = Button("BtnDeletePC", "De&lete", "Delete PC file");
    BtnRefreshPC = Button("BtnRefreshPC", "Refre&sh", "Refresh PC files");

    auto *buttons = new QGridLayout;
    buttons->addWidget(BtnMkDirPC, 0, 0);
    buttons->addWidget(BtnRmDirPC, 0, 1);
    buttons->addWidget(BtnRefreshPC, 0, 2);
    buttons->addWidget(BtnRenamePC, 1, 0);
    buttons->addWidget(BtnDeletePC, 1, 1);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(CaptionedRow("F&older", DriveComboBoxPC));
    layout->addWidget(DirectoryListBoxPC, 2);
    layout->addWidget(HeadedList(HeaderPCFiles, FileListBoxPC), 3);
    layout->addLayout(CaptionedRow("Filt&er", FilterComboBoxPC));
    layout->addLayout(buttons);

    SetFilterPC("");
    FillDrives();
    FillFolders();
    RefreshFiles();
    connect(DriveComboBoxPC, &QComboBox::activated, this, &TLocalPCGroup::DriveChosen);
    connect(DirectoryListBoxPC, &QListWidget::itemActivated, this, &TLocalPCGroup::FolderChosen);
    connect(FilterComboBoxPC, &QComboBox::activated, this, &TLocalPCGroup::RefreshFiles);
}

std::vector<std::string> TLocalPCGroup::SelectedNames() const
{
    std::vector<std::string> names;
    for (int row = 0; row < FileListBoxPC->count(); ++row) {
        const QListWidgetItem *item = FileListBoxPC->item(row);
        if (item->isSelected())
            names.push_back(QFile::encodeName(item->data(Qt::UserRole).toString()).toStdString());
    }
    return names;
}

std::string TLocalPCGroup::CurrentFolder() const
{
    return QFile::encodeName(QDir::currentPath()).toStdString();
}

void TLocalPCGroup::RefreshFiles()
{
    QDir folder = QDir::current();
    folder.setNameFilters(FilterPatterns());
    folder.setFilter(QDir::Files);
    folder.setSorting(QDir::Name | QDir::IgnoreCase);
    FileListBoxPC->clear();
    // Added in one go, then put in the order the header shows.
    const bool sorted = FileListBoxPC->isSortingEnabled();
    FileListBoxPC->setSortingEnabled(false);
    for (const QFileInfo &file : folder.entryInfoList())
        FileListBoxPC->addItem(FileItem(file));
    FileListBoxPC->setSortingEnabled(sorted);
    HeaderPCFiles->Resort();
    if (OnSkipped)
        for (const std::string &name : UndecodableFiles())
            OnSkipped(name);
}

std::vector<std::string> TLocalPCGroup::UndecodableFiles() const
{
    std::vector<std::string> names;
    DIR *folder = ::opendir(".");
    if (!folder)
        return names;
    const QStringList patterns = FilterPatterns();
    while (const dirent *entry = ::readdir(folder)) {
        const QByteArray bytes(entry->d_name);
        const QString decoded = QFile::decodeName(bytes);
        if (QFile::encodeName(decoded) == bytes || !QDir::match(patterns, decoded))
            continue;
        struct stat status {};
        if (::fstatat(::dirfd(folder), entry->d_name, &status, 0) == 0 && S_ISREG(status.st_mode))
            names.push_back(bytes.toStdString());
    }
    ::closedir(folder);
    std::sort(names.begin(), names.end());
    return names;
}

void TLocalPCGroup::SetFilterPC(const std::string &filter)
{
    const QStringList fields = TextForDisplay(filter.empty() ? kDefaultFilterPC : filter).split('|');
    FilterComboBoxPC->clear();
    for (qsizetype i = 0; i + 1 < fields.size(); i += 2)
        FilterComboBoxPC->addItem(fields[i], fields[i + 1]);
    // A description without patterns is still offered; it shows every file.
    if (fields.size() % 2 == 1 && !fields.back().isEmpty())
        FilterComboBoxPC->addItem(fields.back(), QString("*"));
    FilterComboBoxPC->setCurrentIndex(0);
    RefreshFiles();
}

QStringList TLocalPCGroup::FilterPatterns() const
{
    QStringList patterns;
    for (const QString &pattern : FilterComboBoxPC->currentData().toString().split(';', Qt::SkipEmptyParts))
        // "*.*" means every file, also one without a period in its name.
        patterns << (pattern.trimmed() == "*.*" ? QString("*") : pattern.trimmed());
    if (patterns.isEmpty())
        patterns << "*";
    return patterns;
}

std::string TLocalPCGroup::HighlightedFolder() const
{
    const QListWidgetItem *item = DirectoryListBoxPC->currentItem();
    return item ? QFile::encodeName(item->data(kFolderPathRole).toString()).toStdString() : std::string();
}

void TLocalPCGroup::RefreshFolders()
{
    SetFolder(QDir::currentPath());
}

bool TLocalPCGroup::EnterFolder(const std::string &path)
{
    return SetFolder(QFile::decodeName(QByteArray::fromStdString(path)));
}

void TLocalPCGroup::PathEntered()
{
    QString typed = DriveComboBoxPC->currentText().trimmed();
    if (typed == "~" || typed.startsWith("~/"))
        typed.replace(0, 1, QDir::homePath());
    if (!SetFolder(typed) && OnFolderRefused)
        OnFolderRefused(typed);
}

bool TLocalPCGroup::SetFolder(const QString &path)
{
    const QString folder = QDir(path).canonicalPath();
    if (folder.isEmpty() || !QDir::setCurrent(folder))
        return false;
    lastFolder_[VolumeOf(folder)] = folder;
    FillDrives();
    FillFolders();
    RefreshFiles();
    return true;
}

void TLocalPCGroup::FillDrives()
{
    const QString current = VolumeOf(QDir::currentPath());
    QStringList roots;
    for (const QStorageInfo &volume : QStorageInfo::mountedVolumes())
        if (volume.isValid() && volume.isReady())
            roots << volume.rootPath();
    roots.removeDuplicates();
    roots.sort();
    DriveComboBoxPC->clear();
    DriveComboBoxPC->addItems(roots);
    DriveComboBoxPC->setCurrentIndex(int(roots.indexOf(current)));
    DriveComboBoxPC->setEditText(QDir::currentPath());
}

void TLocalPCGroup::FillFolders()
{
    DirectoryListBoxPC->clear();
    const QDir current = QDir::current();
    QStringList chain;
    for (QDir dir = current;; ) {
        chain.prepend(dir.absolutePath());
        if (!dir.cdUp())
            break;
    }
    const QIcon open = style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closed = style()->standardIcon(QStyle::SP_DirClosedIcon);
    int depth = 0;
    for (const QString &path : chain) {
        const QString name = depth == 0 ? path : QDir(path).dirName();
        auto *item = new QListWidgetItem(open, QString(depth * 2, ' ') + name, DirectoryListBoxPC);
        item->setData(kFolderPathRole, path);
        ++depth;
    }
    DirectoryListBoxPC->setCurrentRow(int(chain.size()) - 1);
    const QStringList children =
        current.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
    for (const QString &child : children) {
        auto *item = new QListWidgetItem(closed, QString(depth * 2, ' ') + child, DirectoryListBoxPC);
        item->setData(kFolderPathRole, current.absoluteFilePath(child));
    }
}

void TLocalPCGroup::DriveChosen(int index)
{
    const QString root = DriveComboBoxPC->itemText(index);
    if (!SetFolder(lastFolder_.value(root, root)))
        SetFolder(root);
}

void TLocalPCGroup::FolderChosen(QListWidgetItem *item)
{
    SetFolder(item->data(kFolderPathRole).toString());
}

QString TLocalPCGroup::VolumeOf(const QString &path) const
{
    return QStorageInfo(path).rootPath();
}
