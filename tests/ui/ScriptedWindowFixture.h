#pragma once
// The real main window against the scripted peer, for the moments and the answers a real
// server would not give: the window's settings point at the peer, which plays the login,
// the subvolume change and the listings a test scripts.
#include "ui/MainWindowFixture.h"
#include "support/FtpScriptData.h"
#include "support/FtpScriptPeer.h"

#include <cstdio>
#include <string>

// A listing line as the NonStop server writes it: the file code from the 14th character.
inline std::string ScriptedLine(const char *name, int code, long long size)
{
    char text[128];
    std::snprintf(text, sizeof text, "%-9s%8d%17lld 18-Mar-08 15:09:12 244, 10 \"nnnn\"", name, code, size);
    return text;
}

inline const QByteArray kScriptedHeading = "File         Code             EOF  Last Modification    Owner  RWEP\r\n";

class ScriptedWindowFixture : public MainWindowFixture {
protected:
    // The window's settings point at the scripted peer; `store` goes to the settings store.
    void UsePeer(const QByteArray &store = "int LogLevel=2\nint TouchDown=1\nint TouchUp=1\n")
    {
        DestroyWindow();
        CreateWindow(store);
        ASSERT_TRUE(form->LoadStartupSettings("HostName 127.0.0.1 HostPort " + peer.PortText().toStdString()
                                              + " UserID u Password p InitialSubvol $DATA.SUB Encryption None"));
        form->Session().FTPCLI.SetTimeout(5);
        form->show();
    }
    void ScriptLogin()
    {
        peer.Send("220 hi\r\n").Reply("USER u", "331 pw\r\n").Reply("PASS p", "230 ok\r\n");
    }
    // PORT, LIST, the listing in pieces of `piece` bytes, then the end of the transfer.
    void ScriptList(const QByteArray &listing, int piece = 0, const FtpScriptPeer::Action &whileWaiting = {})
    {
        data.ExpectPort();
        peer.Expect("LIST");
        if (whileWaiting)
            peer.Then(whileWaiting);
        peer.Send("150 listing\r\n");
        data.Open();
        if (piece > 0)
            data.SendSplit(listing, piece, 20);
        else
            data.Send(listing);
        data.Close();
        peer.Delay(30).Send("226 ok\r\n");
    }
    void ScriptSubvol(const QByteArray &listing)
    {
        peer.Reply("CWD $DATA.SUB", "250 ok\r\n").Reply("PWD", "257 \"$DATA.SUB\"\r\n");
        ScriptList(listing);
    }
    // Login, subvolume and this listing (after the heading), connected and listed.
    bool ConnectToListing(const QByteArray &lines)
    {
        ScriptLogin();
        ScriptSubvol(kScriptedHeading + lines);
        return form->Session().ConnectToHost() && peer.WaitFinished();
    }

    FtpScriptPeer peer;
    FtpScriptData data{peer};
};
