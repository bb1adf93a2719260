#include "session/FileCodeMemory.h"

#include "session/DecimalReading.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

#include <algorithm>
#include <map>

FileCodeMap ParseFileCodes(std::string_view text)
{
    FileCodeMap codes;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        const std::size_t blank = line.find(' ');
        if (blank == 0 || blank == std::string_view::npos)
            continue;
        const DecimalRead code = ReadDecimal(line, blank + 1);
        if (code.end == blank + 1 || code.end != line.size())
            continue;
        codes[GuardianKey(line.substr(0, blank))] = SaturateToInt32(code.value);
    }
    return codes;
}

std::string FormatFileCodes(const FileCodeMap &codes)
{
    const std::map<std::string, std::int32_t> sorted(codes.begin(), codes.end());
    std::string text;
    for (const auto &[name, code] : sorted)
        text += name + ' ' + std::to_string(code) + '\n';
    return text;
}

FileCodeMap LoadFileCodes(const std::string &folder)
{
    QFile file(QDir(QString::fromStdString(folder)).filePath(kFileCodesName));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return ParseFileCodes(file.readAll().toStdString());
}

bool SaveFileCodes(const std::string &folder, const FileCodeMap &codes, std::string &error)
{
    const QString path = QDir(QString::fromStdString(folder)).filePath(kFileCodesName);
    QSaveFile file(path);
    const std::string text = FormatFileCodes(codes);
    // Every write checked: a commit after a failed write would keep a cut file.
    const bool written = file.open(QIODevice::WriteOnly) &&
                         file.write(text.data(), qint64(text.size())) == qint64(text.size()) && file.flush();
    if (written && file.commit())
        return true;
    error = "Cannot keep the file codes in " + path.toStdString() + ": " + file.errorString().toStdString();
    file.cancelWriting();
    return false;
}

void RememberFileCodes(FileCodeMap &codes, const std::vector<HostFile> &hostFiles)
{
    for (const HostFile &file : hostFiles)
        codes[GuardianKey(file.Name)] = file.Code;
}
