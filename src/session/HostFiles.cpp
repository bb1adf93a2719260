#include "session/HostFiles.h"
#include "ftp/FtpClient.h"

bool FtpClientBusy(const TFtpClient &client)
{
    const TFtpState state = client.State();
    return state != ftpReady && state != ftpInternalReady && state != ftpNotConnected;
}

bool ListingRefusedAsEmpty(const TFtpClient &client, int lines)
{
    return lines == 0 && client.GetConnected() && client.CurrentStep() == ftpFctDir && client.ReplyCode() == 550;
}

bool TFtpHostFiles::Refuse()
{
    Refused = FtpClientBusy(Client);
    return Refused;
}

bool TFtpHostFiles::Dele(const std::string &name)
{
    if (Refuse())
        return false;
    Client.SetHostFileName(name);
    return Client.Dele();
}

bool TFtpHostFiles::Ren(const std::string &from, const std::string &to)
{
    if (Refuse())
        return false;
    Client.SetHostFileName(from);
    Client.SetLocalFileName(to);
    return Client.Ren();
}

std::string TFtpHostFiles::ErrorMessage() const
{
    return Refused ? ClientBusyText : Client.ErrorMessage();
}
