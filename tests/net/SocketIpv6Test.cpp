// IPv6 in the socket layer: address literals, lookups that answer both families, and a
// TWSocket that listens, accepts and connects over ::1 (skipped, with the reason printed, on
// machines without IPv6 on loopback).
#include "NetPeers.h"
#include "support/Ipv6Loopback.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QHostAddress>
#include <QHostInfo>

#include <arpa/inet.h>
#include <unistd.h>

#include <map>

namespace {

// Answers the names it knows with fixed addresses, every other name with "not found".
struct TTableResolver : TWSocketResolver {
    std::map<std::string, THostEntry> Names;
    std::optional<THostEntry> GetHostByName(const std::string &Name, int &Error) override
    {
        const auto It = Names.find(Name);
        Error = It == Names.end() ? WSAHOST_NOT_FOUND : 0;
        return It == Names.end() ? std::nullopt : std::optional<THostEntry>(It->second);
    }
};

struct TResolverScope {
    explicit TResolverScope(TWSocketResolver *R) { WSocketSetResolver(R); }
    ~TResolverScope() { WSocketSetResolver(nullptr); }
};

std::string MessageOf(const std::function<void()> &Act)
{
    try {
        Act();
    } catch (const ESocketException &E) {
        return E.what();
    }
    return "no exception";
}

} // namespace

TEST(AddressText, literalsOfBothFamilies)
{
    struct Row {
        const char *Text;
        bool IPv6;          // WSocketIsIPv6Literal
        const char *Parsed; // WSocketParseAddress's text; "" for no address
    };
    const Row Rows[] = {
        {"::1", true, "::1"}, {"[::1]", true, "::1"}, {" [::1] ", true, "::1"},
        {"[0:0:0:0:0:0:0:1]", true, "::1"}, {"2001:DB8::A", true, "2001:db8::a"},
        {"::ffff:127.0.0.1", true, "::ffff:127.0.0.1"},
        // half a pair of brackets, two pairs, nothing inside, two "::", a bracketed IPv4
        {"[::1", false, ""}, {"::1]", false, ""}, {"[[::1]]", false, ""}, {"[]", false, ""},
        {"1::2::3", false, ""}, {"[127.0.0.1]", false, ""},
        {"127.0.0.1", false, "127.0.0.1"}, {"127.1", false, "127.0.0.1"}, {"tandem1", false, ""}, {"", false, ""},
    };
    for (const Row &R : Rows) {
        EXPECT_EQ(WSocketIsIPv6Literal(R.Text), R.IPv6) << '"' << R.Text << '"';
        const auto A = WSocketParseAddress(R.Text);
        EXPECT_EQ(A ? A->Text() : std::string(), R.Parsed) << '"' << R.Text << '"';
        if (A) {
            EXPECT_EQ(A->IsIPv6(), R.IPv6) << '"' << R.Text << '"';
        }
    }
}

TEST(Resolve, lookupAnswersKeepBothFamiliesIpv6First)
{
    QHostInfo Info;
    Info.setHostName("dual");
    Info.setAddresses({QHostAddress("127.0.0.1"), QHostAddress("::1"), QHostAddress("10.0.0.1"),
                       QHostAddress("fe80::1")});
    THostEntry Entry;
    ASSERT_EQ(WSocketLookupAnswer(Info, false, Entry), 0);
    EXPECT_EQ(Entry.AddressTexts(), (std::vector<std::string>{"::1", "fe80::1", "127.0.0.1", "10.0.0.1"}));
    // A name with IPv6 addresses only is found, not "no data".
    Info.setAddresses({QHostAddress("::1")});
    THostEntry Only6;
    EXPECT_EQ(WSocketLookupAnswer(Info, false, Only6), 0);
    EXPECT_EQ(Only6.AddressTexts(), std::vector<std::string>{"::1"});
}

TEST(Resolve, hostOfEitherFamily)
{
    TTableResolver R;
    R.Names["dual"] = THostEntry{"dual", {htonl(0x7f000001)}, {in6addr_loopback}};
    R.Names["six"] = THostEntry{"six", {}, {in6addr_loopback}};
    TResolverScope Scope(&R);
    const std::pair<const char *, const char *> Rows[] = {
        {"[::1]", "::1"}, {" ::1 ", "::1"}, {" 10.1.2.3 ", "10.1.2.3"},
        {"dual", "127.0.0.1"}, // IPv4 first on this blocking path, as it always answered
        {"six", "::1"},
    };
    for (const auto &[Text, Address] : Rows)
        EXPECT_EQ(WSocketResolveHostAddr(Text).Text(), Address) << Text;
    EXPECT_EQ(MessageOf([] { WSocketResolveHostAddr("nowhere"); }),
              "WSocketResolveHost: Cannot convert host address 'nowhere', Error #11001");
    // The IPv4 helper has nothing to give for an IPv6-only name: "no data", not error 0.
    EXPECT_EQ(MessageOf([] { WSocketResolveHost("six"); }),
              "WSocketResolveHost: Cannot convert host address 'six', Error #11004");
}

TEST(WsocketIpv6, listenAcceptAndConnectOverLoopback)
{
    SKIP_WITHOUT_IPV6_LOOPBACK();
    TWSocket Listener;
    Listener.SetProto("tcp");
    Listener.SetAddr("::1");
    Listener.SetPort("0");
    Listener.Listen();
    ASSERT_EQ(Listener.State(), wsListening);
    const std::string Port = Listener.GetXPort();
    ASSERT_NE(Port, "error");

    TWSocket Accepted;
    Listener.OnSessionAvailable = [&](TCustomWSocket *Sender, int) { Accepted.Dup(Sender->Accept()); };
    TEventLog Log;
    TWSocket Client;
    Log.Attach(Client);
    Client.SetAddr("[::1]");
    Client.SetPort(Port);
    Client.SetLocalAddr("::1");
    EXPECT_EQ(Client.LocalAddr(), "::1");
    Client.Connect();
    ASSERT_TRUE(PumpUntil([&] { return Client.State() == wsConnected && Accepted.State() == wsConnected; }))
        << Log.Joined();
    EXPECT_EQ(Log.Count("SessionConnected(0)"), 1);
    EXPECT_EQ(Client.PeerAddr(), "::1");
    EXPECT_EQ(Client.PeerPort(), Port);
    EXPECT_NE(Client.LocalPort(), "0"); // the bound port was read back
    EXPECT_EQ(Listener.Sin().Text(), "::1"); // Accept kept the peer's address
    EXPECT_EQ(Listener.Sin().Port(), std::stoi(Client.LocalPort()));
    EXPECT_EQ(Accepted.PeerAddr(), "::1");

    Accepted.SendStr("over six");
    ASSERT_TRUE(PumpUntil([&] { return Log.Count("DataAvailable(0):over six") == 1; })) << Log.Joined();
    Client.Close();
    Accepted.Close();
}
