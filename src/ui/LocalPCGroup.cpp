#include "ui/FileDragList.h"
#include "ui/LocalPCGroup.h"
#include "session/ConnectionSettings.h"
#include "ui/UserMessages.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
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

QPushButton *Button(const char *name, const QString &caption)
{
    auto *button = new QPushButton(caption);
    button->setObjectName(name);
    button->setAccessibleName(caption);
    return button;
}

constexpr int kFolderPathRole = Qt::UserRole; // the folder an item of the folder list stands for

} // namespace

TLocalPCGroup::TLocalPCGroup(QWidget *parent) : QGroupBox("Local PC", parent)
{
    setObjectName("GroupBoxPC");
    setAccessibleName("Local PC");
    setFixedWidth(209);
    setMinimumHeight(361);

    DriveComboBoxPC = new QComboBox;
    DriveComboBoxPC->setObjectName("DriveComboBoxPC");
    DriveComboBoxPC->setAccessibleName("Drive");
    DirectoryListBoxPC = new QListWidget;
    DirectoryListBoxPC->setObjectName("DirectoryListBoxPC");
    DirectoryListBoxPC->setAccessibleName("Folders");
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
    FilterComboBoxPC = new QComboBox;
    FilterComboBoxPC->setObjectName("FilterComboBoxPC");
    FilterComboBoxPC->setAccessibleName("PC file filter");
    BtnMkDirPC = Button("BtnMkDirPC", "MkDir");
    BtnRmDirPC = Button("BtnRmDirPC", "RmDir");
    BtnRenamePC = Button("BtnRenamePC", "Rename");
    BtnDeletePC = Button("BtnDeletePC", "Delete");
    BtnRefreshPC = Button("BtnRefreshPC", "Refresh");

    auto *buttons = new QGridLayout;
    buttons->addWidget(BtnMkDirPC, 0, 0);
    buttons->addWidget(BtnRmDirPC, 0, 1);
    buttons->addWidget(BtnRefreshPC, 0, 2);
    buttons->addWidget(BtnRenamePC, 1, 0);
    buttons->addWidget(BtnDeletePC, 1, 1);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(DriveComboBoxPC);
    layout->addWidget(DirectoryListBoxPC, 2);
    layout->addWidget(FileListBoxPC, 3);
    layout->addWidget(FilterComboBoxPC);
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
    // The name itself stays with the item; the list shows it with its format characters visible.
    for (const QString &name : folder.entryList()) {
        auto *item = new QListWidgetItem(VisibleText(name), FileListBoxPC);
        item->setData(Qt::UserRole, name);
    }
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
