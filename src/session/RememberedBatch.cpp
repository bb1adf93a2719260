#include "session/RememberedBatch.h"

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QList>

#include <cstdio>
#include <set>

namespace {

// Items may hold any byte but a line end would split them: each value is percent-encoded.
QByteArray Field(const char *key, const std::string &value)
{
    return QByteArray(key) + ' ' + QByteArray::fromStdString(value).toPercentEncoding() + '\n';
}

std::string Value(const QByteArray &line, qsizetype space)
{
    return QByteArray::fromPercentEncoding(line.mid(space + 1)).toStdString();
}

} // namespace

std::string RememberedBatchQuestion(const TRememberedBatch &batch)
{
    return std::to_string(batch.Items.size()) + " files of the last " + (batch.Download ? "download" : "upload") +
           " were not transferred: Finish now?";
}

std::optional<TRememberedBatch> LoadRememberedBatch(const std::string &path)
{
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    TRememberedBatch batch;
    std::vector<std::string> items;
    std::set<std::size_t> done;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const qsizetype space = line.indexOf(' ');
        const QByteArray key = line.left(space);
        if (space < 0)
            continue;
        if (key == "host")
            batch.Host = Value(line, space);
        else if (key == "port")
            batch.Port = Value(line, space);
        else if (key == "user")
            batch.User = Value(line, space);
        else if (key == "subvol")
            batch.Subvol = Value(line, space);
        else if (key == "pcfolder")
            batch.PcFolder = Value(line, space);
        else if (key == "direction")
            batch.Download = Value(line, space) == "download";
        else if (key == "item")
            items.push_back(Value(line, space));
        else if (key == "done")
            done.insert(std::size_t(line.mid(space + 1).toULongLong()));
    }
    for (std::size_t i = 0; i < items.size(); ++i)
        if (!done.count(i))
            batch.Items.push_back(items[i]);
    if (batch.Items.empty())
        return std::nullopt;
    return batch;
}

void ForgetRememberedBatch(const std::string &path)
{
    QFile::remove(QString::fromStdString(path));
}

void TBatchMemory::Start(const TRememberedBatch &batch)
{
    batch_ = batch;
    done_.assign(batch.Items.size(), false);
    journal_.close();
    if (Write(batch_)) {
        journal_.setFileName(QString::fromStdString(path_));
        journal_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered);
    }
}

void TBatchMemory::Done(std::size_t index)
{
    if (index >= done_.size() || done_[index])
        return;
    done_[index] = true;
    // Unbuffered: the line is in the file as soon as the file is done, whatever happens next.
    if (journal_.isOpen())
        journal_.write("done " + QByteArray::number(qulonglong(index)) + '\n');
}

void TBatchMemory::Finish()
{
    journal_.close();
    TRememberedBatch left = batch_;
    left.Items.clear();
    for (std::size_t i = 0; i < done_.size(); ++i)
        if (!done_[i])
            left.Items.push_back(batch_.Items[i]);
    if (left.Items.empty())
        ForgetRememberedBatch(path_);
    else
        Write(left);
}

bool TBatchMemory::Write(const TRememberedBatch &batch)
{
    QByteArray text = "zarvel-batch 1\n";
    text += Field("host", batch.Host) + Field("port", batch.Port) + Field("user", batch.User);
    text += Field("subvol", batch.Subvol) + Field("pcfolder", batch.PcFolder);
    text += Field("direction", batch.Download ? "download" : "upload");
    for (const std::string &item : batch.Items)
        text += Field("item", item);
    const QString target = QString::fromStdString(path_);
    QDir().mkpath(QFileInfo(target).absolutePath()); // the settings' folder, before any setting is saved
    QFile temporary(target + ".new");
    if (!temporary.open(QIODevice::WriteOnly | QIODevice::Truncate) || temporary.write(text) != text.size()) {
        temporary.remove();
        return false;
    }
    temporary.setPermissions(QFile::ReadOwner | QFile::WriteOwner); // names of the user's hosts and files
    temporary.close();
    return std::rename(QFile::encodeName(temporary.fileName()).constData(), QFile::encodeName(target).constData()) == 0;
}
