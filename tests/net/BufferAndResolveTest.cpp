// TBuffer, the error table and errno mapping, the resolution helpers, the service
// bookkeeping and name lookups (a failing resolver stands in for DNS).
#include "NetPeers.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QHostAddress>
#include <QHostInfo>

#include <arpa/inet.h>
#include <cerrno>

// ---- TBuffer ----------------------------------------------------------------------------------

TEST(Buffer, fillsToCapacityDrainsAndRewinds)
{
    TBuffer B(10);
    EXPECT_EQ(B.Write("0123456", 7), 7);
    EXPECT_EQ(B.Write("789abc", 6), 3); // only what fits
    EXPECT_EQ(B.Write("x", 1), 0);
    int Len = 0;
    const char *p = B.Peek(Len);
    EXPECT_EQ(std::string(p, Len), "0123456789");
    EXPECT_EQ(B.Remove(4), 4);
    char Out[16];
    EXPECT_EQ(B.Read(Out, 3), 3);
    EXPECT_EQ(std::string(Out, 3), "456");
    EXPECT_EQ(B.Write("y", 1), 0); // still full at the back until drained
    EXPECT_EQ(B.Remove(100), 3);
    EXPECT_EQ(B.Peek(Len), nullptr);
    EXPECT_EQ(Len, 0);
    EXPECT_EQ(B.Write("abcdefghij", 10), 10); // a drained block is refilled from its start
    EXPECT_EQ(TBuffer(0).BufSize(), 1514);
    EXPECT_EQ(TBuffer(-5).BufSize(), 1514);
}

// ---- error numbers -------------------------------------------------------------------------------

TEST(ErrorDesc, tableEdgesAndUnknownNumbers)
{
    const std::pair<int, const char *> Rows[] = {
        {0, "No Error"}, {10004, "Interrupted system call"}, {10035, "Operation would block"},
        {10047, "Address family not supported by protocol family"}, {10054, "Connection reset by peer"},
        {10057, "Socket is not connected"}, {10061, "Connection refused"},
        {10071, "Too many levels of remote in path"}, {10093, "WinSock not initialized"},
        {11001, "Host not found"}, {11004, "No Data"}, {10001, "Not a WinSock error"},
        {10072, "Not a WinSock error"}, {-1, "Not a WinSock error"}, {11005, "Not a WinSock error"}};
    for (const auto &[n, Text] : Rows)
        EXPECT_EQ(WSocketErrorDesc(n), Text) << n;
}

TEST(ErrorDesc, errnoMapsOntoTheWindowsNumbering)
{
    const std::pair<int, int> Rows[] = {
        {0, 0}, {EWOULDBLOCK, 10035}, {EINPROGRESS, 10035}, {ECONNREFUSED, 10061},
        {ECONNRESET, 10054}, {EPIPE, 10054}, {ENOTCONN, 10057}, {EADDRINUSE, 10048},
        {ENOTSOCK, 10038}, {EBADF, 10038}, {EINVAL, 10022}, {ETIMEDOUT, 10060},
        // what an IPv6 address fails with on a machine without IPv6
        {EAFNOSUPPORT, 10047}, {EADDRNOTAVAIL, 10049}, {ENETUNREACH, 10051}};
    for (const auto &[Errno, Wsa] : Rows)
        EXPECT_EQ(WSocketErrnoToWSA(Errno), Wsa) << Errno;
}

// ---- resolution helpers ----------------------------------------------------------------------

TEST(Resolve, dottedAddressRecognition)
{
    const std::pair<const char *, bool> Rows[] = {
        {"10.0.0.1", true}, {"  10.0.0.1  ", true}, {"255.255.255.255", true}, {"0.0.0.0", true},
        {"10.0.0", false}, {"10.0.0.1.5", false}, {"10..0.1", false}, {"10.0.0.256", false},
        {".10.0.0.1", false}, {"10.0.0.", false}, {"256.0.0.1", false}, {"10.0.0.1x", false},
        {"10.0.0.1 x", false}, {"localhost", false}, {"", false}};
    for (const auto &[Text, Dotted] : Rows)
        EXPECT_EQ(WSocketIsDottedIP(Text), Dotted) << '"' << Text << '"';
}

template <typename F>
std::string MessageOf(F &&Act)
{
    try {
        Act();
    } catch (const ESocketException &E) {
        return E.what();
    }
    return "no exception";
}

// Answers every lookup with a failure, so no test depends on the machine's DNS.
struct TFailingResolver : TWSocketResolver {
    int Calls = 0;
    std::optional<THostEntry> GetHostByName(const std::string &, int &Error) override
    {
        ++Calls;
        Error = WSAHOST_NOT_FOUND;
        return std::nullopt;
    }
    int StartLookup(const std::string &, bool, TDone Done, int &Error) override
    {
        ++Calls;
        Error = 0;
        QMetaObject::invokeMethod(QCoreApplication::instance(), [Done] { Done(WSAHOST_NOT_FOUND, {}); },
                                  Qt::QueuedConnection);
        return 1000 + Calls;
    }
};

struct TResolverScope {
    explicit TResolverScope(TWSocketResolver *R) { WSocketSetResolver(R); }
    ~TResolverScope() { WSocketSetResolver(nullptr); }
};

TEST(Resolve, hostTextsAndTheirMessages)
{
    TFailingResolver R;
    TResolverScope Scope(&R);
    EXPECT_EQ(WSocketResolveHost(" 10.1.2.3 "), inet_addr("10.1.2.3"));
    EXPECT_EQ(WSocketResolveHost("255.255.255.255"), 0xffffffffu);
    EXPECT_EQ(R.Calls, 0); // dotted texts never reach the resolver
    EXPECT_EQ(MessageOf([] { WSocketResolveHost(""); }), "WSocketResolveHost: '' Invalid Hostname.");
    const std::string Long(257, 'a');
    EXPECT_EQ(MessageOf([&] { WSocketResolveHost(Long); }), "WSocketResolveHost: '" + Long + "' Invalid Hostname.");
    EXPECT_EQ(MessageOf([] { WSocketResolveHost("nowhere"); }),
              "WSocketResolveHost: Cannot convert host address 'nowhere', Error #11001");
    EXPECT_EQ(R.Calls, 1);
}

TEST(Resolve, portsAndProtocols)
{
    EXPECT_EQ(WSocketResolvePort("ftp", "tcp"), 21);
    EXPECT_EQ(WSocketResolvePort("21", ""), 21);
    EXPECT_EQ(WSocketResolvePort("8080abc", "tcp"), 8080);
    EXPECT_EQ(WSocketResolvePort("65535", "tcp"), 65535);
    // Beyond 16 bits a port would wrap onto another one (65557 onto 21): refused instead.
    EXPECT_EQ(MessageOf([] { WSocketResolvePort("65557", "tcp"); }), "WSocketResolvePort: Invalid Port.");
    EXPECT_EQ(MessageOf([] { WSocketResolvePort("99999999999", "tcp"); }), "WSocketResolvePort: Invalid Port.");
    EXPECT_EQ(MessageOf([] { WSocketResolvePort("", "tcp"); }), "WSocketResolvePort: Invalid Port.");
    EXPECT_EQ(MessageOf([] { WSocketResolvePort(std::string(32, 'p'), "tcp"); }), "WSocketResolvePort: Invalid Port.");
    const std::string Name31(31, 'p');
    EXPECT_EQ(MessageOf([&] { WSocketResolvePort(Name31, "tcp"); }),
              "WSocketResolvePort: Cannot convert port '" + Name31 + "', Error #11004");
    EXPECT_EQ(WSocketResolveProto("tcp"), 6);
    EXPECT_EQ(WSocketResolveProto(" udp "), 17);
    EXPECT_EQ(WSocketResolveProto("TCP"), 6);
    EXPECT_EQ(WSocketResolveProto("17"), 17);
    EXPECT_EQ(MessageOf([] { WSocketResolveProto(""); }), "WSocketResolveProto: Invalid Protocol.");
    EXPECT_EQ(MessageOf([] { WSocketResolveProto(std::string(32, 'x')); }), "WSocketResolveProto: Invalid Protocol.");
    EXPECT_EQ(MessageOf([] { WSocketResolveProto("nosuchproto"); }),
              "WSocketResolveProto: Cannot convert protocol 'nosuchproto', Error #11004");
}

TEST(Resolve, localHostNameAndLookupsOfLocalhost)
{
    EXPECT_FALSE(LocalHostName().empty());
    auto Entry = WSocketGetHostByName("localhost");
    ASSERT_TRUE(Entry.has_value());
    EXPECT_EQ(WSocketDottedText(Entry->Addresses.front()), "127.0.0.1");
    EXPECT_FALSE(WSocketResolveIp("127.0.0.1").empty());
}

// ---- service bookkeeping ---------------------------------------------------------------------

TEST(Service, lastSocketUnloadsAndForcedLoadHoldsIt)
{
    ASSERT_EQ(WSocketGCount, 0);
    {
        TWSocket S;
        EXPECT_EQ(WSocketGCount, 1);
        WSocketGetProc("");
        EXPECT_TRUE(WSocketIsLoaded());
    }
    EXPECT_EQ(WSocketGCount, 0);
    EXPECT_FALSE(WSocketIsLoaded());
    {
        TWSocket S;
        EXPECT_FALSE(WSocketIsLoaded()); // building an object loads nothing
        S.SetAddr("127.0.0.1");
        S.SetPort("0");
        S.Listen();
        EXPECT_TRUE(WSocketIsLoaded());
        WSocketForceLoadWinsock();
        WSocketForceLoadWinsock(); // once only
        EXPECT_EQ(WSocketGCount, 2);
    }
    EXPECT_EQ(WSocketGCount, 1);
    EXPECT_TRUE(WSocketIsLoaded());
    WSocketCancelForceLoadWinsock();
    EXPECT_EQ(WSocketGCount, 0);
    EXPECT_FALSE(WSocketIsLoaded());
    const TWSAData Info = WinsockInfo();
    EXPECT_EQ(Info.wVersion, 0x0101);
    EXPECT_FALSE(WSocketIsLoaded()); // nothing holds it afterwards
    EXPECT_EQ(MessageOf([] { WSocketGetProc("WSAFooBar"); }).rfind("Procedure WSAFooBar not found in wsock32.dll Error #", 0), 0u);
    EXPECT_EQ(WSocketGetProc("connect"), WSocketGetProc("connect"));
    WSocketUnloadWinsock();
}

// ---- name lookup on the socket ----------------------------------------------------------------

TEST(DnsLookup, dottedTextIsAnsweredInsideTheCall)
{
    // Every text the address parser takes is an address, the short forms too: none of them
    // may wait for (or reach) a resolver.
    const std::pair<const char *, const char *> Rows[] = {
        {"10.1.2.3", "10.1.2.3"}, {" 10.1.2.3 ", "10.1.2.3"}, {"127.1", "127.0.0.1"}, {"10.1", "10.0.0.1"},
        {"10.1.2", "10.1.0.2"}, {"::1", "::1"}, {"[::1]", "::1"}, {" [0:0::1] ", "::1"},
        {"::ffff:127.0.0.1", "::ffff:127.0.0.1"},
    };
    TFailingResolver R;
    TResolverScope Scope(&R);
    for (const auto &[Text, Dotted] : Rows) {
        TEventLog Log;
        TWSocket S;
        Log.Attach(S);
        S.DnsLookup(Text);
        EXPECT_EQ(Log.Joined(), "DnsLookupDone(0)\n") << Text;
        EXPECT_EQ(S.DnsResult(), Dotted) << Text;
        EXPECT_TRUE(S.DnsResultList().empty()) << Text;
    }
}

TEST(DnsLookup, reverseAnswerNamingOnlyTheAddressIsHostNotFound)
{
    // The system's reverse lookup gives the address text back when the address has no name.
    struct Row {
        const char *Name;
        bool Reverse;
        int Error;
    };
    const Row Rows[] = {
        {"localhost", true, 0},
        {"127.0.0.1", true, WSAHOST_NOT_FOUND},
        {"", true, WSAHOST_NOT_FOUND},
        {"localhost", false, 0},
    };
    for (const Row &R : Rows) {
        QHostInfo Info;
        Info.setHostName(R.Name);
        Info.setAddresses({QHostAddress("127.0.0.1")});
        THostEntry Entry;
        EXPECT_EQ(WSocketLookupAnswer(Info, R.Reverse, Entry), R.Error) << R.Name << " reverse " << R.Reverse;
        if (R.Error == 0) {
            EXPECT_EQ(Entry.Name, R.Name);
        }
    }
}

TEST(DnsLookup, cancelReportsInterruptedAndDropsTheLateAnswer)
{
    TEventLog Log;
    TWSocket S;
    Log.Attach(S);
    S.DnsLookup("localhost");
    S.CancelDnsLookup();
    EXPECT_EQ(Log.Joined(), "DnsLookupDone(10004)\n");
    S.CancelDnsLookup(); // nothing pending: nothing happens
    PumpFor(300);
    EXPECT_EQ(Log.Joined(), "DnsLookupDone(10004)\n");
    EXPECT_EQ(S.DnsResult(), "");
}

TEST(DnsLookup, cancelledSystemLookupReleasesItsCompletion)
{
    // The completion holds the socket's closure: a cancelled lookup that kept it would leak
    // it, and a late answer must not run it.
    auto Token = std::make_shared<int>(0);
    std::weak_ptr<int> Held = Token;
    bool Ran = false;
    int Error = -1;
    const int Id = WSocketResolver().StartLookup(
        "localhost", false, [Token, &Ran](int, const THostEntry &) { Ran = true; }, Error);
    ASSERT_GT(Id, 0);
    Token.reset();
    EXPECT_FALSE(Held.expired());
    EXPECT_TRUE(WSocketResolver().CancelLookup(Id, Error));
    EXPECT_TRUE(Held.expired());
    PumpFor(300);
    EXPECT_FALSE(Ran);
}

TEST(DnsLookup, repeatedAndOverlappingLookupsOfOneNameEachAnswer)
{
    // Answers are matched to lookups by id; a second lookup of a name is served from the
    // resolver's cache or queued behind the first, and must still reach its own socket.
    TEventLog LogA, LogB;
    TWSocket A, B;
    LogA.Attach(A);
    LogB.Attach(B);
    A.DnsLookup("localhost");
    B.DnsLookup("localhost");
    ASSERT_TRUE(PumpUntil([&] { return !LogA.Items.empty() && !LogB.Items.empty(); }));
    A.DnsLookup("localhost");
    ASSERT_TRUE(PumpUntil([&] { return LogA.Items.size() == 2; }));
    EXPECT_EQ(LogA.Joined(), "DnsLookupDone(0)\nDnsLookupDone(0)\n");
    EXPECT_EQ(LogB.Joined(), "DnsLookupDone(0)\n");
    EXPECT_EQ(A.DnsResult(), "127.0.0.1");
    EXPECT_EQ(B.DnsResult(), "127.0.0.1");
}

TEST(DnsLookup, failureAndEmptyNameAreReported)
{
    TFailingResolver R;
    TResolverScope Scope(&R);
    TEventLog Log;
    TWSocket S;
    Log.Attach(S);
    S.DnsLookup("nowhere");
    EXPECT_TRUE(PumpUntil([&] { return !Log.Items.empty(); }));
    EXPECT_EQ(Log.Joined(), "DnsLookupDone(11001)\n");
    EXPECT_EQ(MessageOf([&] { S.DnsLookup(""); }), "DNS lookup: invalid host name.");
    S.OnError = [](TCustomWSocket *) {};
    S.DnsLookup("");
    EXPECT_EQ(Log.Items.back(), "DnsLookupDone(10022)");
}

TEST(DnsLookup, secondLookupSupersedesTheFirst)
{
    TEventLog Log;
    TWSocket S;
    Log.Attach(S);
    S.DnsLookup("localhost");
    S.DnsLookup("127.0.0.2");
    PumpFor(300);
    EXPECT_EQ(Log.Joined(), "DnsLookupDone(0)\n");
    EXPECT_EQ(S.DnsResult(), "127.0.0.2");
}

TEST(DnsLookup, reverseLookupOfLoopback)
{
    TEventLog Log;
    TWSocket S;
    Log.Attach(S);
    S.ReverseDnsLookup("127.0.0.1");
    EXPECT_TRUE(Log.Items.empty());
    ASSERT_TRUE(PumpUntil([&] { return !Log.Items.empty(); }));
    EXPECT_EQ(Log.Joined(), "DnsLookupDone(0)\n");
    EXPECT_FALSE(S.DnsResult().empty());
    EXPECT_EQ(S.DnsResultList().size(), 1u);
}
