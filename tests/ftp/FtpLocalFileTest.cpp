// The engine and the local file: a download goes to the descriptor it was handed, never to
// whatever the name points at by then; an upload that did not carry its whole file, as it was
// when opened, fails and ends with a reset, so a server cannot take the part for the file.
#include "FtpTransferFixture.h"
#include "ftp/FtpReadAhead.h"

#include <fcntl.h>
#include <unistd.h>

namespace {

TEST_F(FtpTransfer, downloadWritesToTheDescriptorItWasHandedNeverThroughTheName)
{
    WriteAll(Local("victim"), "the user's own file");
    // What another user could swap in at the name between its creation and the transfer.
    ASSERT_EQ(::symlink(Local("victim").c_str(), Local("swapped").c_str()), 0);
    const int fd = ::open(Local("taken").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "stale bytes, longer than nothing", 32), 32);
    const QByteArray whole = Pattern(8000);

    DataStep(true);
    peer.Reply("RETR f", "150 go\r\n");
    data.Open().Send(whole.left(5000)).Close();
    peer.Delay(50).Send("226 ok\r\n");
    cli.SetHostFileName("f");
    cli.SetLocalFileName(Local("swapped"));
    cli.SetLocalFileHandle(fd);
    ASSERT_TRUE(cli.Get()) << cli.ErrorMessage();
    EXPECT_EQ(ReadAll(Local("victim")), "the user's own file");
    EXPECT_EQ(ReadAll(Local("taken")), whole.left(5000)) << "written from the start, the stale bytes gone";
    EXPECT_EQ(cli.LocalFileHandle(), -1) << "a descriptor serves one download";
    EXPECT_NE(::fcntl(fd, F_GETFD), -1) << "the caller's descriptor stays open";

    // A resume takes its offset from the descriptor, not from the name.
    DataStep(true);
    peer.Reply("REST 5000", "350 Restarting at 5000.\r\n").Reply("RETR f", "150 go\r\n");
    data.Open().Send(whole.mid(5000)).Close();
    peer.Delay(50).Send("226 ok\r\n");
    cli.SetLocalFileHandle(fd);
    ASSERT_TRUE(cli.RestGet()) << cli.ErrorMessage();
    EXPECT_EQ(ReadAll(Local("taken")), whole);
    EXPECT_EQ(ReadAll(Local("victim")), "the user's own file");
    ::close(fd);
}

// ---- How an upload ends: reset unless the whole file went -------------------------------

enum class Interference { None, Cancel, Truncate, Grow, ReadError };

struct UploadEndRow {
    const char *name;
    Interference what;
    const char *error;   // ErrorMessage after Put, "" for success; %s is the local name
};

void PrintTo(const UploadEndRow &row, std::ostream *os)
{
    *os << row.name;
}

class UploadEnd : public FtpTransfer, public testing::WithParamInterface<UploadEndRow> {};

// The server says 226 in every row, as one that stored whatever arrived would.
TEST_P(UploadEnd, onlyTheWholeFileEndsInOrder)
{
    const UploadEndRow &row = GetParam();
    // Larger than what the upload reads ahead, so a change after the first blocks shows.
    const QByteArray payload = Pattern(TReadAhead::ReadBytes + 1514 * 40);
    const std::string name = row.what == Interference::ReadError ? "/proc/self/mem" : Local("up");
    if (row.what != Interference::ReadError)
        WriteAll(name, payload);
    cli.OnProgress = [&](TCustomFtpCli *, qint64 count, bool &abort) {
        if (count != 1514 * 3)
            return;
        if (row.what == Interference::Cancel)
            abort = true;
        else if (row.what == Interference::Truncate)
            ASSERT_EQ(::truncate(name.c_str(), 1514 * 2), 0);
        else if (row.what == Interference::Grow)
            WriteAll(name, payload + payload);
    };
    data.WatchForReset();
    DataStep(true);
    peer.Expect("STOR up").Send("150 Ok to send data.\r\n");
    data.Open().ReceiveUntilClose();
    peer.Send("226 Transfer complete.\r\n");
    cli.SetLocalFileName(name);
    cli.SetHostFileName("up");

    const bool put = cli.Put();
    EXPECT_TRUE(peer.WaitFinished());

    const std::string error = QString(row.error).arg(QString::fromStdString(name)).toStdString();
    EXPECT_EQ(put, error.empty()) << cli.ErrorMessage();
    EXPECT_EQ(cli.ErrorMessage(), error);
    EXPECT_EQ(data.ClientReset(), !error.empty()) << "the server must see a reset exactly when the file is not whole";
    if (error.empty())
        EXPECT_EQ(data.Received(), payload);
    else // never a byte past the size the file had when it was opened
        EXPECT_LE(data.Received().size(), payload.size());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, UploadEnd,
    testing::Values(UploadEndRow{"complete", Interference::None, ""},
                    UploadEndRow{"cancelled", Interference::Cancel, "426 Transfer aborted by the application"},
                    UploadEndRow{"truncatedWhileSent", Interference::Truncate, "426 File %1 changed while it was sent"},
                    UploadEndRow{"grownWhileSent", Interference::Grow, "426 File %1 changed while it was sent"},
                    UploadEndRow{"localReadFails", Interference::ReadError, "426 Error reading file %1"}),
    [](const testing::TestParamInfo<UploadEndRow> &i) { return std::string(i.param.name); });

} // namespace
