// The trust decision for a certificate OpenSSL did not verify: what is remembered, when the
// user is asked, and what the answer leaves in the store.
#include "session/Encryption.h"
#include "support/MemorySettingsStore.h"

#include <gtest/gtest.h>

namespace {

struct RecordingPrompt : TCertificatePrompt {
    TTrustAnswer Answer = trustCancel;
    std::vector<TCertificateQuestion> Asked;
    TTrustAnswer AskTrust(const TCertificateQuestion &q) override
    {
        Asked.push_back(q);
        return Answer;
    }
};

TTlsPeerInfo Peer(const std::string &fingerprint)
{
    TTlsPeerInfo p;
    p.Fingerprint = fingerprint;
    p.Reason = "self-signed certificate";
    return p;
}

} // namespace

TEST(CertificateTrust, answersDecideAndOnlyTrustThisCertificateIsRemembered)
{
    struct Case {
        TTrustAnswer Answer;
        bool Accepted;
        const char *Stored;
    } cases[] = {{trustCancel, false, ""}, {trustOnce, true, ""}, {trustRemember, true, "AA:01"}};
    for (const Case &c : cases) {
        TMemorySettingsStore store;
        RecordingPrompt prompt;
        prompt.Answer = c.Answer;
        EXPECT_EQ(DecideCertificate(&store, prompt, "tandem1", 21, Peer("AA:01")), c.Accepted) << c.Answer;
        ASSERT_EQ(prompt.Asked.size(), 1u);
        EXPECT_FALSE(prompt.Asked[0].Changed);
        EXPECT_EQ(prompt.Asked[0].Host, "tandem1");
        EXPECT_EQ(store.ReadString(TrustedCertificateName("tandem1", 21)), c.Stored);
    }
}

TEST(CertificateTrust, rememberedCertificatePassesSilentlyAnotherOneAsksWithTheWarning)
{
    TMemorySettingsStore store;
    store.WriteString(TrustedCertificateName("tandem1", 21), "AA:01");
    RecordingPrompt prompt;
    EXPECT_TRUE(DecideCertificate(&store, prompt, "tandem1", 21, Peer("AA:01")));
    EXPECT_TRUE(prompt.Asked.empty());
    // The same host on another port remembers nothing.
    EXPECT_FALSE(DecideCertificate(&store, prompt, "tandem1", 2121, Peer("AA:01")));
    ASSERT_EQ(prompt.Asked.size(), 1u);
    EXPECT_FALSE(prompt.Asked[0].Changed);
    // A changed certificate is never accepted silently.
    prompt.Answer = trustRemember;
    EXPECT_TRUE(DecideCertificate(&store, prompt, "tandem1", 21, Peer("BB:02")));
    ASSERT_EQ(prompt.Asked.size(), 2u);
    EXPECT_TRUE(prompt.Asked[1].Changed);
    EXPECT_EQ(store.ReadString(TrustedCertificateName("tandem1", 21)), "BB:02");
}
