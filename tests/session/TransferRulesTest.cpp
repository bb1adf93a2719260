// Transfer mode and name rules: one table per rule, then a round-trip property over
// generated Guardian names, then the batch's type switching.
#include "session/TransferRules.h"
#include "QuotedText.h"

#include <gtest/gtest.h>

#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace {

TransferOptions Options(ModeChoice mode, int extensionSize = 0, bool addFileCode = true, bool appendExtension = true)
{
    TransferOptions options;
    options.Mode = mode;
    options.DLExtensionSize = extensionSize;
    options.DLAddFileCode = addFileCode;
    options.ULAppendExtension = appendExtension;
    return options;
}

const char *ChoiceName(ModeChoice choice)
{
    switch (choice) {
    case ModeChoice::Ascii: return "ASCII";
    case ModeChoice::Binary: return "Binary";
    case ModeChoice::Auto: return "Auto";
    }
    return "?";
}

// --- Download mode -------------------------------------------------------------------

struct DownloadModeRow {
    ModeChoice choice;
    std::int32_t fileCode;
    TransferMode expected;
};

void PrintTo(const DownloadModeRow &row, std::ostream *out)
{
    *out << ChoiceName(row.choice) << " code " << row.fileCode;
}

class DownloadModeTest : public testing::TestWithParam<DownloadModeRow> {};

TEST_P(DownloadModeTest, onlyEditFilesTravelAsAsciiInAuto)
{
    const DownloadModeRow &row = GetParam();
    EXPECT_EQ(DownloadModeFor(row.fileCode, Options(row.choice)), row.expected)
        << ChoiceName(row.choice) << " code " << row.fileCode;
}

INSTANTIATE_TEST_SUITE_P(Table, DownloadModeTest, testing::Values(
    DownloadModeRow{ModeChoice::Auto, 101, TransferMode::Ascii},
    DownloadModeRow{ModeChoice::Auto, 100, TransferMode::Binary},
    DownloadModeRow{ModeChoice::Auto, 700, TransferMode::Binary},
    DownloadModeRow{ModeChoice::Auto, 0, TransferMode::Binary},      // no digits in the code column
    DownloadModeRow{ModeChoice::Auto, -101, TransferMode::Binary},
    DownloadModeRow{ModeChoice::Auto, 1010, TransferMode::Binary},
    DownloadModeRow{ModeChoice::Ascii, 100, TransferMode::Ascii},    // a fixed choice wins over the code
    DownloadModeRow{ModeChoice::Binary, 101, TransferMode::Binary}));

// --- Upload mode ---------------------------------------------------------------------

struct UploadModeRow {
    ModeChoice choice;
    const char *pcName;
    TransferMode expected;
};

void PrintTo(const UploadModeRow &row, std::ostream *out)
{
    *out << ChoiceName(row.choice) << " " << Quoted(row.pcName);
}

class UploadModeTest : public testing::TestWithParam<UploadModeRow> {};

TEST_P(UploadModeTest, fileCodeAfterFirstCommaDecides)
{
    const UploadModeRow &row = GetParam();
    EXPECT_EQ(UploadModeFor(row.pcName, Options(row.choice)), row.expected)
        << ChoiceName(row.choice) << " " << row.pcName;
}

INSTANTIATE_TEST_SUITE_P(Table, UploadModeTest, testing::Values(
    UploadModeRow{ModeChoice::Auto, "README", TransferMode::Ascii},
    UploadModeRow{ModeChoice::Auto, "PROG.C", TransferMode::Ascii},
    UploadModeRow{ModeChoice::Auto, "MYEDIT,101", TransferMode::Ascii},
    UploadModeRow{ModeChoice::Auto, "A,101X", TransferMode::Ascii},      // digits stop at X
    UploadModeRow{ModeChoice::Auto, "A,0101", TransferMode::Ascii},      // value 101
    UploadModeRow{ModeChoice::Auto, "A, 101", TransferMode::Ascii},      // atol skips white space
    UploadModeRow{ModeChoice::Auto, "A,", TransferMode::Binary},         // value 0
    UploadModeRow{ModeChoice::Auto, "A,100,101", TransferMode::Binary},  // only the first comma counts
    UploadModeRow{ModeChoice::Auto, "MYOBJ,100", TransferMode::Binary},
    UploadModeRow{ModeChoice::Auto, "DATA,0", TransferMode::Binary},
    UploadModeRow{ModeChoice::Auto, "X,ABC", TransferMode::Binary},
    UploadModeRow{ModeChoice::Auto, "A,-101", TransferMode::Binary},
    UploadModeRow{ModeChoice::Auto, "OBJ,100.BAK", TransferMode::Binary},
    UploadModeRow{ModeChoice::Ascii, "MYOBJ,100", TransferMode::Ascii},
    UploadModeRow{ModeChoice::Binary, "README", TransferMode::Binary}));

// --- PC name on download ----------------------------------------------------------------

struct PcNameRow {
    const char *host;
    std::int32_t fileCode;
    TransferMode mode;
    int extensionSize;
    bool addFileCode;
    const char *expected;
};

void PrintTo(const PcNameRow &row, std::ostream *out)
{
    *out << Quoted(row.host) << " code " << row.fileCode << " " << ModeWord(row.mode) << " n=" << row.extensionSize
         << (row.addFileCode ? " with code" : " without code");
}

class PcNameTest : public testing::TestWithParam<PcNameRow> {};

TEST_P(PcNameTest, extensionThenFileCodeSuffix)
{
    const PcNameRow &row = GetParam();
    EXPECT_EQ(PcNameForDownload(row.host, row.fileCode, row.mode,
                                Options(ModeChoice::Auto, row.extensionSize, row.addFileCode)),
              row.expected)
        << row.host << " code " << row.fileCode << " " << ModeWord(row.mode) << " n=" << row.extensionSize;
}

INSTANTIATE_TEST_SUITE_P(Table, PcNameTest, testing::Values(
    PcNameRow{"PROGC", 101, TransferMode::Ascii, 1, true, "PROG.C"},
    PcNameRow{"MYOBJ", 100, TransferMode::Binary, 0, true, "MYOBJ,100"},
    PcNameRow{"PROGC", 101, TransferMode::Binary, 1, true, "PROG.C,101"},
    PcNameRow{"MYOBJ", 100, TransferMode::Binary, 0, false, "MYOBJ"},
    PcNameRow{"TESTC", 101, TransferMode::Ascii, 0, true, "TESTC"},         // size 0: unchanged
    PcNameRow{"DATA", 0, TransferMode::Binary, 0, true, "DATA,0"},
    PcNameRow{"NEG", -3, TransferMode::Binary, 0, true, "NEG,-3"},
    // No longer than n: no period at all, never one in front (that would be a hidden file).
    PcNameRow{"AB", 0, TransferMode::Ascii, 3, true, "AB"},
    PcNameRow{"BASHRC", 101, TransferMode::Ascii, 8, true, "BASHRC"},
    PcNameRow{"C", 101, TransferMode::Ascii, 1, true, "C"},
    PcNameRow{"ABCDEFGH", 700, TransferMode::Binary, 8, true, "ABCDEFGH,700"},
    PcNameRow{"ABCDEFGH", 0, TransferMode::Ascii, 7, true, "A.BCDEFGH"},
    PcNameRow{"ProgH", 101, TransferMode::Ascii, 1, true, "Prog.H"}));      // letter case kept

TEST(PcNameTest, asciiChoiceNeverGivesSuffix)
{
    // The check box only speaks for binary files: with ASCII chosen no code reaches the name.
    const TransferOptions options = Options(ModeChoice::Ascii, 0, true);
    for (std::int32_t code : {0, 100, 101, 700, -1}) {
        const TransferMode mode = DownloadModeFor(code, options);
        EXPECT_EQ(PcNameForDownload("FILE", code, mode, options), "FILE") << code;
    }
}

// --- Host name on upload ---------------------------------------------------------------

struct HostNameRow {
    const char *pcPath;
    const char *withExtension;    // ULAppendExtension checked
    const char *withoutExtension; // unchecked
};

void PrintTo(const HostNameRow &row, std::ostream *out)
{
    *out << Quoted(row.pcPath);
}

class HostNameTest : public testing::TestWithParam<HostNameRow> {};

TEST_P(HostNameTest, periodGoesExtensionStaysWhenAppended)
{
    const HostNameRow &row = GetParam();
    EXPECT_EQ(HostNameForUpload(row.pcPath, Options(ModeChoice::Auto, 0, true, true)), row.withExtension)
        << row.pcPath;
    EXPECT_EQ(HostNameForUpload(row.pcPath, Options(ModeChoice::Auto, 0, true, false)), row.withoutExtension)
        << row.pcPath;
}

INSTANTIATE_TEST_SUITE_P(Table, HostNameTest, testing::Values(
    HostNameRow{"PROG.C", "PROGC", "PROG"},
    HostNameRow{"MYOBJ,100", "MYOBJ,100", "MYOBJ,100"},
    HostNameRow{"PROG.C,101", "PROGC,101", "PROG"},        // unchecked loses the code
    HostNameRow{"OBJ,100.BAK", "OBJ,100BAK", "OBJ,100"},
    HostNameRow{"A.B.C", "A.BC", "A.B"},
    HostNameRow{"NAME.", "NAME.", "NAME."},                // trailing period kept
    HostNameRow{".profile", "profile", ""},                // empty name passed on as is
    HostNameRow{"README", "README", "README"},
    HostNameRow{"/home/dev/src/PROG.C", "PROGC", "PROG"},  // only the last component counts
    HostNameRow{"/home/dev.d/README", "README", "README"}, // a period in a folder is no extension
    HostNameRow{"C:\\SRC\\PROG.C", "PROGC", "PROG"},
    HostNameRow{"C:PROG.C", "PROGC", "PROG"},
    HostNameRow{"lower.c", "lowerc", "lower"}));

// --- Names that must not be used ---------------------------------------------------------

struct UnsafeRow {
    std::string name;
    bool unsafe;
};

void PrintTo(const UnsafeRow &row, std::ostream *out)
{
    *out << Quoted(row.name);
}

class UnsafePcNameTest : public testing::TestWithParam<UnsafeRow> {};

TEST_P(UnsafePcNameTest, namesLeavingTheFolderAreUnsafe)
{
    const UnsafeRow &row = GetParam();
    EXPECT_EQ(IsUnsafePcName(row.name), row.unsafe) << '"' << row.name << '"';
}

INSTANTIATE_TEST_SUITE_P(Table, UnsafePcNameTest, testing::Values(
    UnsafeRow{"", true},
    UnsafeRow{".", true},
    UnsafeRow{"..", true},
    UnsafeRow{"../ETC", true},
    UnsafeRow{"/etc/passwd", true},
    UnsafeRow{"A/B", true},
    UnsafeRow{std::string("A\0B", 3), true},
    UnsafeRow{"A\rB", true},
    UnsafeRow{"A\nB", true},
    UnsafeRow{"\x1b[2JX", true},      // terminal escape
    UnsafeRow{"A\x7f", true},
    UnsafeRow{"\xc3\xa9T\xc3\xa9", false}, // UTF-8 letters are ordinary bytes here
    UnsafeRow{"...", false},
    UnsafeRow{".AB", false},          // hidden, but in the folder: IsHiddenName refuses it
    UnsafeRow{"MYOBJ,100", false},
    UnsafeRow{"PROG.C", false},
    UnsafeRow{"A\\B", false}));    // an ordinary character here

TEST(UnsafeHostNameTest, lineBreaksAndNulCouldInjectCommands)
{
    EXPECT_TRUE(IsUnsafeHostName("A\r\nDELE B"));
    EXPECT_TRUE(IsUnsafeHostName("A\nB"));
    EXPECT_TRUE(IsUnsafeHostName(std::string("A\0B", 3)));
    EXPECT_FALSE(IsUnsafeHostName("MYOBJ,100"));
    EXPECT_FALSE(IsUnsafeHostName(""));
}

// --- Round trip --------------------------------------------------------------------------

// A file downloaded and uploaded again with the extension appended comes back under its
// Guardian name, plus ",<code>" exactly when it travelled in binary with the suffix on.
TEST(RoundTripProperty, downloadNameUploadsToHostName)
{
    std::mt19937 random(20260807);
    const std::string first = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    const std::string rest = first + "0123456789";
    const std::vector<std::int32_t> interesting = {0, 100, 101, 180, 700, 1000, 65535, -1};
    for (int i = 0; i < 20000; ++i) {
        std::string host(1, first[random() % first.size()]);
        const std::size_t length = 1 + random() % 8;
        while (host.size() < length)
            host += rest[random() % rest.size()];
        const std::int32_t code = random() % 3 == 0 ? interesting[random() % interesting.size()]
                                                    : static_cast<std::int32_t>(random() % 70000);
        const ModeChoice choice = static_cast<ModeChoice>(random() % 3);
        const TransferOptions options = Options(choice, static_cast<int>(random() % 9), random() % 2 == 0, true);

        const TransferMode mode = DownloadModeFor(code, options);
        const std::string pcName = PcNameForDownload(host, code, mode, options);
        const bool suffixed = mode == TransferMode::Binary && options.DLAddFileCode;
        const std::string expected = suffixed ? host + "," + std::to_string(code) : host;
        const std::string back = HostNameForUpload(pcName, options);

        ASSERT_EQ(back, expected) << "host " << host << " code " << code << " " << ChoiceName(choice)
                                  << " n=" << options.DLExtensionSize << " addCode=" << options.DLAddFileCode
                                  << " pc name " << pcName;
        ASSERT_FALSE(IsUnsafePcName(pcName)) << pcName;
        ASSERT_FALSE(IsHiddenName(pcName)) << pcName;
        if (choice == ModeChoice::Auto && options.DLAddFileCode) {
            ASSERT_EQ(UploadModeFor(pcName, options), mode) << pcName;
        }
    }
}

// --- Type switching in a batch -----------------------------------------------------------

TEST(TransferModeSwitcherTest, typeCommandOnlyWhenModeChanges)
{
    struct Case {
        std::vector<TransferMode> files;
        std::vector<TransferMode> expectedCommands;
    };
    const TransferMode A = TransferMode::Ascii;
    const TransferMode B = TransferMode::Binary;
    const std::vector<Case> cases = {
        {{A, A}, {A}},
        {{B}, {B}},                  // the first file always switches
        {{A, B, A}, {A, B, A}},
        {{B, B, A, A, B}, {B, A, B}},
    };
    for (const Case &c : cases) {
        TransferModeSwitcher switcher;
        std::vector<TransferMode> sent;
        for (TransferMode mode : c.files) {
            ASSERT_TRUE(switcher.Prepare(mode, [&](TransferMode m) { sent.push_back(m); return true; }));
            EXPECT_EQ(switcher.ModeText(), mode == A ? "ascii" : "binary");
        }
        EXPECT_EQ(sent, c.expectedCommands) << "batch of " << c.files.size() << " files";
    }
}

TEST(TransferModeSwitcherTest, failedSwitchIsNotRemembered)
{
    TransferModeSwitcher switcher;
    EXPECT_EQ(switcher.ModeText(), "");
    int calls = 0;
    EXPECT_FALSE(switcher.Prepare(TransferMode::Binary, [&](TransferMode) { ++calls; return false; }));
    EXPECT_FALSE(switcher.LastMode().has_value());
    // The server's type is unknown after a failure, so the same mode must be asked for again.
    EXPECT_TRUE(switcher.Prepare(TransferMode::Binary, [&](TransferMode) { ++calls; return true; }));
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(switcher.LastMode(), TransferMode::Binary);
}

} // namespace
