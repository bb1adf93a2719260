#include "session/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <cerrno>
#include <charconv>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::string_view kHeader =
    "# Zarvel settings, written by the program: \"text Name=value\" or \"int Name=number\".\n"
    "# In texts \\\\ is a backslash and \\xHH a byte in hex. Delete this file to reset all.\n";

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool Unescape(std::string_view in, std::string &out, std::string &what)
{
    out.clear();
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] != '\\') {
            out.push_back(in[i]);
            continue;
        }
        if (i + 1 < in.size() && in[i + 1] == '\\') {
            out.push_back('\\');
            ++i;
            continue;
        }
        if (i + 3 < in.size() && in[i + 1] == 'x' && HexDigit(in[i + 2]) >= 0 && HexDigit(in[i + 3]) >= 0) {
            out.push_back(static_cast<char>(HexDigit(in[i + 2]) * 16 + HexDigit(in[i + 3])));
            i += 3;
            continue;
        }
        what = "a backslash must start \\\\ or \\xHH";
        return false;
    }
    return true;
}

void Escape(std::string_view in, std::string &out)
{
    static const char hex[] = "0123456789ABCDEF";
    for (char ch : in) {
        const auto c = static_cast<unsigned char>(ch);
        if (ch == '\\') {
            out += "\\\\";
        } else if (c < 0x20 || c > 0x7E) {
            out += "\\x";
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 0xF]);
        } else {
            out.push_back(ch);
        }
    }
}

} // namespace

void StoreText(TSettingsStore *store, const std::string &name, const std::string &value)
{
    if (!store)
        throw ESettingsStoreError("Failed to set data for '" + name + "'");
    store->WriteString(name, value);
}

// The settings hold the password: a file or folder another user could replace, or a link
// that points the write somewhere else, is refused rather than read or written through.
bool IsPrivate(const QString &path, const char *what, std::string &problem)
{
    struct stat status {};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
        return errno == ENOENT;
    const std::string name = std::string("The settings ") + what + " " + path.toStdString();
    if (S_ISLNK(status.st_mode))
        problem = name + " is a symbolic link";
    else if (status.st_uid != ::geteuid())
        problem = name + " is not owned by you";
    else if (status.st_mode & (S_IWGRP | S_IWOTH))
        problem = name + " is writable by group or others";
    return problem.empty();
}

bool StoreInteger(TSettingsStore *store, const std::string &name, std::int32_t value)
{
    return store && store->WriteInteger(name, value);
}

bool IsValidSettingsName(std::string_view name)
{
    if (name.empty())
        return false;
    for (char c : name)
        if (c <= ' ' || c > '~' || c == '=')
            return false;
    return true;
}

SettingsParse ParseSettingsText(std::string_view bytes)
{
    SettingsParse result;
    int lineNo = 0;
    size_t pos = 0;
    while (pos < bytes.size()) {
        size_t end = bytes.find('\n', pos);
        if (end == std::string_view::npos)
            end = bytes.size();
        std::string_view line = bytes.substr(pos, end - pos);
        pos = end + 1;
        ++lineNo;
        // Editors on other systems may end lines with CR LF; the writer never leaves a raw CR.
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        const auto fail = [&](std::string what) {
            result.line = lineNo;
            result.what = std::move(what);
            result.values.clear();
            return result;
        };
        const size_t first = line.find_first_not_of(" \t");
        if (first == std::string_view::npos || line[first] == '#')
            continue;
        line.remove_prefix(first);

        const size_t blank = line.find(' ');
        const size_t equals = line.find('=');
        if (blank == std::string_view::npos || equals == std::string_view::npos || equals < blank)
            return fail("expected \"text Name=value\" or \"int Name=number\"");
        const std::string_view type = line.substr(0, blank);
        const std::string_view name = line.substr(blank + 1, equals - blank - 1);
        const std::string_view raw = line.substr(equals + 1);
        if (!IsValidSettingsName(name))
            return fail("bad value name \"" + std::string(name) + "\"");
        if (result.values.count(std::string(name)))
            return fail("\"" + std::string(name) + "\" is given twice");

        if (type == "text") {
            std::string value, what;
            if (!Unescape(raw, value, what))
                return fail(what);
            result.values.emplace(name, std::move(value));
        } else if (type == "int") {
            std::int32_t value = 0;
            const char *b = raw.data();
            const char *e = raw.data() + raw.size();
            const auto [ptr, ec] = std::from_chars(b, e, value);
            if (raw.empty() || ec != std::errc() || ptr != e)
                return fail("\"" + std::string(raw) + "\" is no 32-bit integer");
            result.values.emplace(name, value);
        } else {
            return fail("unknown type \"" + std::string(type) + "\" (text or int)");
        }
    }
    result.ok = true;
    return result;
}

std::string FormatSettingsText(const SettingsValues &values)
{
    std::string out(kHeader);
    for (const auto &[name, value] : values) {
        if (const auto *text = std::get_if<std::string>(&value)) {
            out += "text " + name + "=";
            Escape(*text, out);
        } else {
            out += "int " + name + "=" + std::to_string(std::get<std::int32_t>(value));
        }
        out += '\n';
    }
    return out;
}

TFileSettingsStore::TFileSettingsStore(QString path) : path_(std::move(path)) {}

QString TFileSettingsStore::DefaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/Ondrik/Zarvel.conf");
}

bool TFileSettingsStore::ReadFile(SettingsValues &values, std::string &problem) const
{
    values.clear();
    QFile file(path_);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly)) {
        problem = "Cannot read the settings file " + path_.toStdString() + ": "
            + file.errorString().toStdString();
        return false;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        problem = "Cannot read the settings file " + path_.toStdString() + ": "
            + file.errorString().toStdString();
        return false;
    }
    SettingsParse parse = ParseSettingsText(std::string_view(bytes.constData(), size_t(bytes.size())));
    if (!parse.ok) {
        problem = path_.toStdString() + ":" + std::to_string(parse.line) + ": " + parse.what;
        return false;
    }
    values = std::move(parse.values);
    return true;
}

bool TFileSettingsStore::OpenOrCreate(std::string &problem)
{
    open_ = false;
    values_.clear();
    // The folder is made by the first write: a run that saves nothing leaves no trace.
    const QString folder = QFileInfo(path_).absolutePath();
    if (QFileInfo::exists(folder) && !QFileInfo(folder).isDir()) {
        problem = "Cannot create the settings folder " + folder.toStdString();
        return false;
    }
    if (!IsPrivate(folder, "folder", problem) || !IsPrivate(path_, "file", problem))
        return false;
    if (QFileInfo(path_).exists() && !QFileInfo(path_).isFile()) {
        problem = "The settings file " + path_.toStdString() + " is not a file";
        return false;
    }
    if (!ReadFile(values_, problem))
        return false;
    open_ = true;
    return true;
}

std::string TFileSettingsStore::ReadString(const std::string &name)
{
    const auto it = values_.find(name);
    if (it == values_.end())
        return {};
    if (const auto *text = std::get_if<std::string>(&it->second))
        return *text;
    throw ESettingsStoreError("Invalid data type for '" + name + "'");
}

std::optional<std::int32_t> TFileSettingsStore::ReadInteger(const std::string &name)
{
    const auto it = values_.find(name);
    if (it == values_.end())
        return std::nullopt;
    if (const auto *number = std::get_if<std::int32_t>(&it->second))
        return *number;
    return std::nullopt;
}

bool TFileSettingsStore::Store(const std::string &name, SettingsValue value)
{
    if (!IsValidSettingsName(name))
        return false;
    return Change([&](SettingsValues &values) { values[name] = std::move(value); });
}

bool TFileSettingsStore::Change(const std::function<void(SettingsValues &)> &change)
{
    if (!open_)
        return false;
    SettingsValues current;
    std::string problem;
    if (!IsPrivate(QFileInfo(path_).absolutePath(), "folder", problem) || !IsPrivate(path_, "file", problem) ||
        !ReadFile(current, problem))
        return false;
    change(current);
    const std::string text = FormatSettingsText(current);

    // A new folder is the owner's alone, whatever the umask would allow.
    const QString folder = QFileInfo(path_).absolutePath();
    if (!QFileInfo::exists(folder)
        && (!QDir().mkpath(QFileInfo(folder).absolutePath())
            || ::mkdir(QFile::encodeName(folder).constData(), 0700) != 0))
        return false;
    // Unbuffered: with Qt's write buffer a write error surfaces only inside commit(), which
    // then still replaces the file with the cut-short copy.
    QSaveFile file(path_);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    // Passwords live here: no one but the owner may read the file, not even for a moment.
    if (::fchmod(file.handle(), S_IRUSR | S_IWUSR) != 0) {
        file.cancelWriting();
        return false;
    }
    if (file.write(text.data(), qint64(text.size())) != qint64(text.size())
        || ::fsync(file.handle()) != 0) {
        file.cancelWriting();
        return false;
    }
    if (!file.commit())
        return false;
    values_ = std::move(current);
    return true;
}

void TFileSettingsStore::WriteString(const std::string &name, const std::string &value)
{
    if (!Store(name, value))
        throw ESettingsStoreError("Failed to set data for '" + name + "'");
}

bool TFileSettingsStore::WriteInteger(const std::string &name, std::int32_t value)
{
    return Store(name, value);
}

std::vector<std::string> TFileSettingsStore::Names()
{
    std::vector<std::string> names;
    for (const auto &[name, value] : values_)
        names.push_back(name);
    return names;
}

bool TFileSettingsStore::RemoveAll(const std::string &prefix)
{
    return Change([&](SettingsValues &values) { std::erase_if(values, [&](const auto &entry) {
        return entry.first.compare(0, prefix.size(), prefix) == 0;
    }); });
}

void TFileSettingsStore::Close()
{
    open_ = false;
    values_.clear();
}
