#include "session/Keyring.h"

std::string KeyringLabel(const KeyringItem &item)
{
    return "Zarvel: " + item.UserID + " on " + item.Host + ":" + std::to_string(item.Port);
}

std::string KeyringKey(const KeyringItem &item)
{
    return item.UserID + "@" + item.Host + ":" + std::to_string(item.Port);
}
