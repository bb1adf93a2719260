#include "session/HostFiles.h"
#include "ftp/FtpClient.h"

bool TFtpHostFiles::Dele(const std::string &name)
{
    Client.SetHostFileName(name);
    return Client.Dele();
}

bool TFtpHostFiles::Ren(const std::string &from, const std::string &to)
{
    Client.SetHostFileName(from);
    Client.SetLocalFileName(to);
    return Client.Ren();
}

std::string TFtpHostFiles::ErrorMessage() const
{
    return Client.ErrorMessage();
}
