#include "session/HostCommand.h"

#include <QByteArray>

namespace {

QByteArray FirstWordUpper(const std::string &line)
{
    const std::size_t end = line.find(' ');
    return QByteArray::fromStdString(line.substr(0, end)).toUpper();
}

} // namespace

std::string HostCommandLine(const std::string &typed, std::string &refusal)
{
    refusal.clear();
    std::string line = QByteArray::fromStdString(typed).trimmed().toStdString();
    if (FirstWordUpper(line) == "QUOTE")
        line = QByteArray::fromStdString(line.substr(5)).trimmed().toStdString();
    const QByteArray word = FirstWordUpper(line);
    if (line.empty())
        refusal = "No command to send";
    else if (line.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
        refusal = "A command is one line";
    else if (word == "USER" || word == "PASS")
        refusal = word.toStdString() + " is not sent from here: the login belongs to File > Connect";
    return refusal.empty() ? line : std::string();
}

THostCommand::THostCommand(TCustomFtpCli &client) : client_(client) {}

THostCommand::~THostCommand()
{
    if (running_) {
        client_.OnResponse = nullptr;
        client_.OnRequestDone = nullptr;
    }
}

bool THostCommand::Send(const std::string &line, std::string &why)
{
    if (!client_.GetConnected()) {
        why = "Not connected";
        return false;
    }
    if (running_ || client_.State() != ftpReady) {
        why = "The host is busy with another request; send the command when it is done";
        return false;
    }
    running_ = true;
    Q_EMIT Line(QByteArray::fromStdString("> " + line));
    // From the loop: the end of a request that is already over may still be on its way there,
    // and must not be taken for this one's.
    QMetaObject::invokeMethod(this, [this, line] { Start(line); }, Qt::QueuedConnection);
    return true;
}

void THostCommand::Start(const std::string &line)
{
    // Every line that arrives until the request ends belongs to this reply; the engine itself
    // shows only its last line.
    client_.OnResponse = [this](TCustomFtpCli *sender) {
        Q_EMIT Line(QByteArray::fromStdString("< " + sender->LastReply()));
    };
    client_.OnRequestDone = [this](TCustomFtpCli *, TFtpRequest request, int error) {
        if (request == ftpQuoteAsync)
            Done(error == 0);
    };
    client_.SetLocalFileName(line);
    try {
        if (client_.State() != ftpReady || !client_.GetConnected())
            throw FtpException("the session is busy or closed");
        client_.QuoteAsync();
    } catch (const FtpException &e) {
        Q_EMIT Line(QByteArray("! Not sent: ") + e.what());
        Done(false);
    }
}

void THostCommand::Done(bool ok)
{
    client_.OnResponse = nullptr;
    client_.OnRequestDone = nullptr;
    running_ = false;
    Q_EMIT Finished(ok);
}
