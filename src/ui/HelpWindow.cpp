#include "ui/HelpWindow.h"

#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace {

// Lines stay under 66 characters so the text reads without wrapping at the window's
// designed width.
constexpr const char *kHelpText = R"(Zarvel is a simple FTP client for the Guardian personality of
HP NonStop computers. Its graphical interface moves one or more
files between the local PC and the remote NonStop host.

FILE TRANSFER OPTIONS
=====================
The "Transfer" group between the two lists holds Upload and
Download and the options they read for every file: the mode
(ASCII, Binary or Auto), "Append Extension" for uploads, and
"Extension Size" and "Add binary Filecode" for downloads. They
take input while a session is open. Select files in a list and
press Upload or Download (or Enter), or drag them from one list
to the other.

TRANSFER FILE TYPES
===================
The transfer mode is either set by hand (ASCII or Binary) or
chosen automatically for each file (Auto).
In Auto mode, uploads are sent as ASCII unless the PC file name
carries a file code other than 101 after a comma, for example
MYOBJ,100.
Auto downloads are ASCII for files with file code 101 (edit
files) and binary for every other file code.
ASCII files travel with CR LF line ends. Zarvel writes them on
the PC with LF line ends and turns LF back into CR LF on upload
(a file that already has CR LF goes unchanged). ASCII Line Ends
CR LF in the configure dialog (AsciiLineEnds CRLF) keeps the
bytes as they travel. Binary files always arrive byte for byte.

UPLOAD
======
"Append Extension" appends the PC file's extension to the host
file name: PROG.C is uploaded as PROGC.
A host name must have 1 to 8 letters and digits, a letter first,
and a file code after the comma from 0 to 65535. A PC file whose
host name breaks these rules is not sent: it fails with the rule
it breaks, and the batch goes on with the next file.

DOWNLOAD
========
"Extension Size" turns the last n characters of the host file
name into the PC file's extension: with size 1, PROGC is
downloaded as PROG.C; with 0, the default, the name is kept.
A name no longer than n gets no period:
a period in front would make a hidden file. A listed name that
starts with a period is not downloaded.
"Add binary Filecode" adds the file code to the PC name of a
binary download, for example MYOBJ,100; a later upload in Auto
mode reads it back and sends the file as binary with that code.

When files of a batch fail, a window lists each failed file
with its reason; the log window (File > Log Window) keeps the
same lines and each batch's summary.

FILE EXISTS
===========
When a download finds its PC file, or an upload its host file,
Zarvel asks before replacing it:
  Overwrite  replace the file
  Resume     go on with the part an earlier binary download
             left (offered only when one is kept)
  Rename     save under the free name shown (PROG1.C, README1)
  Skip       leave both files alone
"for all remaining files" gives the same answer to every later
file of the batch. Skipped files are counted as skipped, e.g.
"3 file(s) downloaded successfully, 1 skipped"; they do not
keep the marker files from being touched. "When a file exists"
in File > Configure (or WhenFileExists) can overwrite or skip
without asking.

DELETE
======
Delete asks first, naming the count and the first files:
"Delete 3 files on $DATA01.ZDEMO: PROGC, PROGH, BUILDIT?".
No is the default answer. PC files go to the desktop's trash,
where they can be restored; on a file system without a trash
the question says that the delete is final. Host files cannot
be restored. "Confirm deletes" in File > Configure (or
ConfirmDelete Off) turns the question off.

RESUME
======
A binary download that stops half-way (the connection is lost,
or Cancel is pressed) keeps what arrived in a hidden file beside
the PC file. The next download of that file from the same host
asks the server to go on from there (REST) and fetches only the
rest (where the PC file exists, answer Resume); a server that
refuses sends the whole file again. ASCII downloads always
start over. The PC file itself is replaced only once a download
is complete.
A connection lost during a batch is opened again ("Retries" in
File > Configure, 3 by default) and the file goes on.
A batch that does not finish (failed files, Cancel, or the
program closed or killed) is remembered: the next connection to
the same host and user asks "4 files of the last download were
not transferred: Finish now?". Yes goes to its PC folder and
subvolume and moves only the files left; No forgets it.

SITES
=====
The connect dialog keeps connections by name. "Save As..." saves
the fields as a site, choosing a site in "Site" fills the fields
from it, "Delete" removes it. Save writes the fields into the
site chosen, and Reload fills in the values saved for it; fields
with nothing saved keep what they show. The site chosen last is
loaded at start-up; "Site name" on the command line loads another
(quote a name with blanks: Site "Tandem TLS"). The caption shows
the site's name, or the host and its port when that is not 21.
Passwords are kept in the desktop keyring, not with the site.

LOG LEVELS
==========
File > Log Window shows what Zarvel did. "Log Level" in the
configure dialog decides how much:
  0   errors only, such as a file that failed
  1   also the status messages and the counts of each batch
  2   also the FTP commands sent and the server's replies
  3   also each change of the session's state
Level 1 is the default.
The status bar always shows the last level 1 message; a double
click on it opens the log window. Esc closes the log window.

THE NONSTOP HOST
================
A listing line with an O between name and file code is a file
that is open (a log being written); its size is read after the
code, so it downloads whole.
A subvolume exists only while it holds files: an empty or new
one lists as 0 files, "No files in $VOL.SUBVOL".
Without a code in its name, an ASCII upload becomes an edit
file (code 101) and a binary one gets code 0.
The host gives a new file room for about 56 MB (extents 4, 28,
978). A bigger binary upload is sent as NAME,code,p,s,978 with
extents that leave a quarter of the room free; a PC name that
carries extents (MYOBJ,100,64,64,978) is sent as it is. For a
file past its extents the log says: The file is larger than its
extents allow (error 45).
An account that starts in the OSS file system (PWD answers
/G/...) is switched to Guardian with QUOTE GUARDIAN.
File > Send Command... sends one line to the host (SITE HELP,
QUOTE OSS ...) and shows the reply in the log window; USER and
PASS are refused there.

EDIT
====
"Edit" (also in the Tandem list's context menu, or F4) opens
the selected host file in the PC's editor. The file is
downloaded in the mode its file code calls for (ASCII for code
101, with the line ends of ASCII Line Ends; binary otherwise)
into a private folder, named as a
download would name it, and opened in the program set as
Editor in File > Configure (run with the file's path), or else
in the desktop's application for the file's type.
Every save in the editor goes back to the same host file in the
same mode and with the same file code. Before each upload Zarvel
compares the host file's size and modification time with what
it saw; if someone else changed it, Zarvel asks: overwrite, save
your text under a new host name, or cancel. The new text goes up
under a temporary name (ZZED....) in the same subvolume and
replaces the original only when it arrived whole, so a cut
connection leaves the host file as it was.
File > Edited Files lists the files being edited and their
state. "End Editing" removes the PC copy; a copy whose text is
not on the host (a failed or unanswered upload) stays, and its
folder is named in the log. Exit asks first while such edits
exist.

COMPARE AND SYNCHRONIZE
=======================
File > Compare (F7) compares the PC folder with the Tandem
subvolume and marks each file in both lists, by colour and in
words a screen reader reads: only on the PC, only on the host,
newer on the PC, newer on the host, or same. Names are matched
through the transfer options above in both directions (PROG.C
and PROGC, MYOBJ,100 and MYOBJ) and the current filters apply.
"Newer" compares modification times; binary files must also
have the same size, edit files need not (their line ends
differ). Host times are the host's local time: set "Host clock
ahead by" in Configure when the host's clock is not the PC's.

File > Synchronize... (Shift+F7) shows the uploads and
downloads that bring the host up to date (PC to host), the PC
(host to PC), or each side from the other (both ways: the newer
file wins). Deleting files only on the target side is an extra
choice, off by default; untick any step you do not want. The
steps run as one batch with the usual progress and summary.
Downloaded files get the host's time, uploaded ones the time the
host gives them, so the next compare finds them the same. The
file codes seen on the host are kept in .zarvel.codes in the PC
folder: a file goes back with its code even when its PC name
carries none.

KEYS
====
  F5        refresh the list that has the focus (both lists
            when neither has it)
  Enter     download the selected remote files, or upload the
            selected PC files
  Delete    delete the selection of the list that has the focus
  F2        rename it
  F6        from one list to the other (also Shift+F6)
  F4        edit the selected remote file in the PC's editor
  F7        compare the PC folder with the subvolume
  Shift+F7  synchronize them
  F1        this help
  Esc       give up a request that waits for the server, such
            as a listing that does not end (as Disconnect does)
  Esc       close this window, the log window or About
  Ctrl+Q    exit
Alt and the underlined letter of a button or caption reach it;
the two sides' buttons have letters of their own (Rename is N
on the PC side and M on the Tandem side).
Each key acts through its button, so it does nothing while the
button is off. Files dragged from one list to the other are
copied: downloaded or uploaded. After a transfer, delete or
rename, the list that started it has the focus again, with its
selection.

ENCRYPTION AND CERTIFICATES
===========================
Encryption "Require" never logs in without FTP over TLS.
With "IfAvailable" (the default), a server that answers AUTH
TLS with 500, 502 or 504 has no TLS: Zarvel asks before the
password goes out in clear (No is the default; "Always allow
for this site" remembers a yes). Any other answer, such as
421, ends the connection. A host that spoke TLS before and now
answers in plain is refused as a possible attack, until its
answers are forgotten with "Forget TLS answers" in the
connect dialog. Without a window to ask in, the password is
not sent.
A certificate the system does not trust shows the trust
dialog: Enter and Esc mean Cancel; a changed certificate needs
its box ticked before a trust button works.
An encrypted transfer that ends without close_notify fails
(the part is kept for a resume), unless "Accept TLS data
without close_notify" is ticked for a server that never
sends it.

STARTUP COMMAND LINE
====================
zarvel [option[,option...]]

Options are separated by commas or blanks; a value that holds
blanks or commas goes in double quotes. Keywords do not depend
on letter case and may be shortened to any unique beginning.
An option is one of:

  HostName host-address       the NonStop host: a name, or an
                              IPv4 or IPv6 address (::1 or
                              [::1])
  HostPort port-number        the port of its FTP server
  UserID user-name            the user to log in as
  Password password           that user's password
  ProxyName host-address      an FTP proxy to connect through
  InitialSubvol subvolume     the Tandem subvolume to open
  Encryption mode             Require, IfAvailable or None:
                              FTP over TLS always, when the
                              server offers it, or never
  DataConnection mode         Active (the default) or Passive
                              (for firewalls, NAT and VPNs)
  KeepAlive seconds           NOOP after that many idle
                              seconds; 0 never
  AsciiLineEnds LF|CRLF       line ends of ASCII files on the
                              PC: LF (the default) or CR LF,
                              the bytes as they travel
  Connections number          sessions a batch moves its
                              files over, 1 to 8 (2)
  Editor program              the program Edit opens host
                              files with; empty: the desktop's
  HostTimeOffset minutes      how far the host's clock runs
                              ahead of this PC's (Compare)
  Retries number              times a batch opens a lost
                              session again, 0 to 10 (3)
  Site name                   a connection saved in the
                              connect dialog's site list
  ConfirmDelete On|Off        ask before deleting files (On,
                              the default) or not
  WhenFileExists rule         Ask (the default), Overwrite or
                              Skip: what a transfer does when
                              the file exists on the other side
  Editor program              the program Edit opens host
                              files with
  AUTOCONNECT
  TOUCHDOWN
  TOUCHUP

Example:

  zarvel hostname tandem1,userid dev.mgr,password secret,autoconnect

With AUTOCONNECT, Zarvel connects to the host on start-up.
With TOUCHDOWN or TOUCHUP, Zarvel maintains the configured high
water marker files, whose modification times track the end of
the last fully successful download or upload batch.
Values given on the command line are used for this run only;
the stored settings stay as they are.

zarvel --compare [option...]
zarvel --sync up|down|both [--delete] [--dry-run] [option...]

compare or synchronize the current folder with the subvolume
(InitialSubvol) without a window, printing the comparison or
the steps as text. --delete also removes files only on the
target side (up or down only); --dry-run prints the steps and
does nothing. Exit status 0: all went well, 1: a file or the
connection failed, 2: the command line was wrong.

ABOUT ZARVEL
============
Zarvel is made by Ondrik. Help > About shows the version you
are running and the project's web address, where questions,
bug reports and suggestions are welcome.

COPYRIGHT
=========
Copyright (C) 2026 Ondrik.
Zarvel is free software under the GNU General Public License,
version 3 or (at your option) any later version.
Product names mentioned here are trademarks of their owners;
Zarvel is not affiliated with or endorsed by them.

DISCLAIMER
==========
Zarvel is provided "as is", without warranty of any kind,
express or implied. Its maker is not liable for any damage or
loss of data arising from its use. Host files that are deleted
or replaced cannot be restored: keep copies of the files that
matter.
)";

} // namespace

TFormHelp::TFormHelp(QWidget *owner)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                         | Qt::WindowCloseButtonHint)
{
    setObjectName("FormHelp");
    setWindowTitle("Zarvel Help");

    Memo1 = new QPlainTextEdit(HelpText());
    Memo1->setObjectName("Memo1");
    Memo1->setAccessibleName("Zarvel Help");
    Memo1->setReadOnly(true);
    Memo1->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(Memo1);
    resize(570, 378);
}

QString TFormHelp::HelpText()
{
    return QString::fromUtf8(kHelpText);
}
