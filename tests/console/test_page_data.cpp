// The Data page without a meter: the file-type codes, reading the index, the
// names it refuses, the progress handler, the folder lists and the shell
// opens, and how refresh and download end when the meter does not answer.
#include "ConsoleFixture.h"

#include "console/DataPage.h"
#include "console/PageControls.h"
#include "link/LinkClock.h"
#include "support/PageTestHost.h"
#include "support/Screenshot.h"
#include "support/ScriptedTransport.h"

#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>

#include <gtest/gtest.h>

using TestSupport::PageTestHost;

namespace {

class DataPageTest : public TestSupport::ConsoleTest {
protected:
    QString meterDir;
    std::unique_ptr<PageTestHost> host;
    std::unique_ptr<Z960Port> link;
    TestSupport::ScriptedTransport line;
    std::unique_ptr<DataPage> page;
    // The link's time-outs run 1000 times faster: a meter that never answers fails at once.
    LinkClock::Scoped fast{1000.0};

    void SetUp() override
    {
        ConsoleTest::SetUp();
        meterDir = dir.filePath(QStringLiteral("data/960123/"));
        QDir().mkpath(meterDir);
        host = std::make_unique<PageTestHost>(meterDir);
        link = std::make_unique<Z960Port>(nullptr, 1);
        link->attachTransport(&line);
        host->port = link.get();
        page = std::make_unique<DataPage>(*host);
    }
    void TearDown() override
    {
        page.reset();
        link.reset();
        host.reset();
        ConsoleTest::TearDown();
    }

    void write(const QString &path, const QByteArray &bytes)
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QByteArray read(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    void listMeterFile(const QByteArray &name)
    {
        auto *item = new QListWidgetItem(QString::fromLatin1(name), page->FileList);
        item->setData(Qt::UserRole, name);
        page->FileList->setCurrentItem(item);
    }
    TDlProgForm *openProgress()
    {
        host->progress = new TDlProgForm(host->window.get(), false);
        return host->progress;
    }
};

} // namespace

TEST_F(DataPageTest, ControlsCarryTheirCaptionsAndStartState)
{
    EXPECT_EQ(page->FileTypeRadioGroup->ItemIndex(), 0);
    const QStringList items = {"Log", "Diagnostic", "Alarm", "System"};
    for (int i = 0; i < items.size(); ++i)
        EXPECT_EQ(page->FileTypeRadioGroup->item(i)->text(), items[i]);
    EXPECT_EQ(page->FileListLbl->text(), "Flowmeter log files");
    EXPECT_EQ(page->FilelistRefreshBtn->text(), "Refresh File List");
    EXPECT_EQ(page->DownLoadBtn->text(), "Download File");
    EXPECT_EQ(page->DlCheckBox->text(), "Open downloaded files");
    EXPECT_TRUE(page->DlCheckBox->isChecked());
    EXPECT_EQ(page->DlFileListLbl->text(), "Vantoro data files");
    EXPECT_EQ(page->OpenFileBtn->text(), "Open Selected File");
    EXPECT_EQ(page->ExplorerBtn->text(), "Windows Explorer");
    EXPECT_EQ(page->BackupLogsBtn->text(), "Backup Logs to SD Card");
    EXPECT_EQ(page->DlFileListBox->mask(), "*.csv");
    EXPECT_EQ(page->FileListBox1->size(), QSize(0, 0));
    EXPECT_NE(page->findChild<QListWidget *>(QStringLiteral("FileList")), nullptr);
}

TEST(DataPageCodes, FileTypeItemGivesItsRequestCode)
{
    const std::pair<int, unsigned char> cases[] = {{0, 0}, {1, 2}, {2, 6}, {3, 1}, {-1, 0}, {4, 0}};
    for (const auto &[item, code] : cases)
        EXPECT_EQ(DataPage::fileTypeCode(item), code) << item;
}

TEST(DataPageIndex, LinesSplitOnAnyTerminator)
{
    using L = QList<QByteArray>;
    const std::pair<QByteArray, L> cases[] = {
        {"Name\r\nfirst.csv\r\nsecond.csv\r\n", L{"Name", "first.csv", "second.csv"}},
        {"Name\nfirst.csv\nsecond.csv", L{"Name", "first.csv", "second.csv"}},
        {"Name\rfirst.csv\r", L{"Name", "first.csv"}},
        {"Name\r\n", L{"Name"}},
        {"", L{}},
        {"Name\r\n\r\nb.csv\n", L{"Name", "", "b.csv"}},
        {"Name\n\rb.csv", L{"Name", "", "b.csv"}}, // LF then CR is two terminators
    };
    for (const auto &[contents, lines] : cases)
        EXPECT_EQ(DataPage::indexLines(contents), lines) << contents.toStdString();
}

TEST(DataPageNames, OnlyOnePlainPrintableComponentIsALocalName)
{
    const std::pair<QByteArray, bool> cases[] = {
        {"LOG0001.CSV", true},
        {"diag 2021-06-07.csv", true},
        {"a.b.csv", true},
        {QByteArray(DataPage::kMaxFileNameLength, 'x'), true},
        {QByteArray(DataPage::kMaxFileNameLength + 1, 'x'), false},
        {"", false},
        {".", false},
        {"..", false},
        {"../evil.csv", false},
        {"..\\evil.csv", false},
        {"sub/evil.csv", false},
        {"\\evil.csv", false},
        {"/etc/passwd", false},
        {"tab\there.csv", false},
        {QByteArray("nul\0.csv", 8), false},
        {"del\x7f.csv", false},
        {"caf\xe9.csv", false},
    };
    for (const auto &[name, plain] : cases)
        EXPECT_EQ(DataPage::isPlainFileName(name), plain) << name.toStdString();
}

TEST_F(DataPageTest, ProgressShowsTruncatedPercentage)
{
    TDlProgForm *form = openProgress();
    struct Case {
        int size, downloaded;
        const char *text;
        int bar;
    };
    const Case cases[] = {{200, 199, "Progress - 99% received", 99},
                          {200, 200, "Progress - 100% received", 100},
                          {3, 1, "Progress - 33% received", 33},
                          {200, 0, "Progress - 0% received", 0},
                          // A log the meter appended to while sending brings more than announced.
                          {200, 230, "Progress - 100% received", 100}};
    for (const Case &c : cases) {
        page->PortFileProgress(link.get(), c.size, c.downloaded, 0);
        EXPECT_EQ(form->windowTitle(), "File download");
        EXPECT_EQ(form->Label1->text(), c.text);
        EXPECT_EQ(form->ProgressBar1->value(), c.bar);
    }
    // Size 0 (a file list before any file): only shown, its texts stay.
    form->SetProgress("Retrieving log file list", "Progress", 75);
    form->hide();
    page->PortFileProgress(link.get(), 0, 500, 0);
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(form->windowTitle(), "Retrieving log file list");
    EXPECT_EQ(form->ProgressBar1->value(), 75);
    // Without a dialog nothing happens.
    host->progress = nullptr;
    page->PortFileProgress(link.get(), 200, 100, 0);
    delete form;
}

TEST_F(DataPageTest, ProgressDialogFollowsTheWindowOnlyBeyondTenPixels)
{
    TDlProgForm *form = openProgress();
    QWidget &main = *host->window;
    main.move(100, 100);
    const auto centre = [&] {
        return QPoint(main.x() + main.width() / 2 - form->width() / 2, main.y() + main.height() / 2 - form->height() / 2);
    };
    page->PortFileProgress(link.get(), 0, 0, 0);
    const QPoint first = centre();
    EXPECT_EQ(form->pos(), first);

    main.move(105, 100); // 5 px: stays
    page->PortFileProgress(link.get(), 0, 0, 0);
    EXPECT_EQ(form->pos(), first);
    main.move(111, 100); // 11 px from where the dialog was centred: jumps
    page->PortFileProgress(link.get(), 0, 0, 0);
    EXPECT_EQ(form->pos(), centre());
}

TEST_F(DataPageTest, RefreshWithoutAnswerAsksTheLostLinkQuestionAndCleansUp)
{
    listMeterFile("old.csv");
    write(meterDir + "index.txt", "Name\r\nstale.csv\r\n");
    prompter.answers.push_back(Platform::MsgResult::No);

    page->FilelistRefreshBtnClick(page->FilelistRefreshBtn);

    EXPECT_EQ(host->lostLinkQuestions, 1);
    EXPECT_EQ(page->FileList->count(), 0);
    EXPECT_EQ(host->progress, nullptr);
    EXPECT_EQ(host->progressFormsSet, 1);
    EXPECT_FALSE(QFile::exists(meterDir + "index.txt"));
    EXPECT_EQ(host->navCalls, (std::vector<bool>{false, true}));
    EXPECT_EQ(host->operationsRunning, 0);
    EXPECT_TRUE(prompter.messages.empty()); // the host asks the question, nothing else is shown
}

TEST_F(DataPageTest, LostLinkAnsweredYesEndsWithoutGivingTheNavigationBack)
{
    host->lostLinkAnswerYes = true;
    page->FilelistRefreshBtnClick(page->FilelistRefreshBtn);
    EXPECT_EQ(host->navCalls, (std::vector<bool>{false}));
    EXPECT_EQ(host->progress, nullptr);
}

TEST_F(DataPageTest, ClickOnAFileTypeRefreshesAtOnce)
{
    page->FileTypeRadioGroup->item(1)->click();
    EXPECT_EQ(page->FileTypeRadioGroup->ItemIndex(), 1);
    EXPECT_EQ(host->operationsStarted, 1);
    EXPECT_EQ(host->lostLinkQuestions, 1);
}

TEST_F(DataPageTest, RefusedOperationTouchesNothing)
{
    listMeterFile("keep.csv");
    host->refuseOperations = true;
    page->FilelistRefreshBtnClick(page->FilelistRefreshBtn);
    page->DownLoadBtnClick(page->DownLoadBtn);
    page->BackupLogsBtnClick(page->BackupLogsBtn);
    EXPECT_EQ(page->FileList->count(), 1);
    EXPECT_TRUE(host->navCalls.empty());
    EXPECT_TRUE(line.written.isEmpty());
}

TEST_F(DataPageTest, HostileNamesAreRefusedBeforeAnythingIsSentOrWritten)
{
    const QByteArray names[] = {"../evil.csv", "sub/evil.csv", "..\\evil.csv", "", "bell\a.csv",
                                QByteArray(DataPage::kMaxFileNameLength + 1, 'y')};
    for (const QByteArray &name : names) {
        prompter.messages.clear();
        page->FileList->clear();
        listMeterFile(name);
        page->DownLoadBtnClick(page->DownLoadBtn);
        ASSERT_EQ(prompter.messages.size(), 1u) << name.toStdString();
        EXPECT_TRUE(prompter.messages[0].text.contains("cannot be used as a file name")) << name.toStdString();
        EXPECT_FALSE(prompter.messages[0].text.contains('\a'));
    }
    EXPECT_TRUE(line.written.isEmpty());
    EXPECT_EQ(host->progressFormsSet, 0);
    EXPECT_TRUE(QDir(meterDir).entryList(QDir::Files).isEmpty());
    EXPECT_FALSE(QFile::exists(dir.filePath("data/evil.csv")));
    EXPECT_TRUE(page->DownLoadBtn->isEnabled());
}

TEST_F(DataPageTest, DownloadWithNothingSelectedDoesNothing)
{
    page->DownLoadBtnClick(page->DownLoadBtn);
    EXPECT_TRUE(prompter.messages.empty());
    EXPECT_EQ(host->lostLinkQuestions, 0);
    EXPECT_EQ(host->navCalls, (std::vector<bool>{false, true}));
}

TEST_F(DataPageTest, DownloadWithoutAnswerKeepsAnEarlierCopyAndLeavesNoPartialFile)
{
    write(meterDir + "second.csv", "earlier good copy");
    listMeterFile("second.csv");
    prompter.answers.push_back(Platform::MsgResult::No);

    page->DownLoadBtnClick(page->DownLoadBtn);

    EXPECT_EQ(host->lostLinkQuestions, 1);
    EXPECT_EQ(read(meterDir + "second.csv"), "earlier good copy");
    EXPECT_FALSE(QFile::exists(meterDir + "second.csv.part"));
    EXPECT_EQ(host->progress, nullptr);
    for (QWidget *w : {static_cast<QWidget *>(page->FileTypeRadioGroup), static_cast<QWidget *>(page->FilelistRefreshBtn),
                       static_cast<QWidget *>(page->DownLoadBtn), static_cast<QWidget *>(page->BackupLogsBtn),
                       static_cast<QWidget *>(page->OpenFileBtn)})
        EXPECT_TRUE(w->isEnabled()) << w->objectName().toStdString();
    EXPECT_EQ(host->navCalls, (std::vector<bool>{false, true}));
    EXPECT_TRUE(opened.empty());
}

TEST_F(DataPageTest, FolderListsFollowTheFolderAndKeepTheirSelection)
{
    page->PointFolderLists();
    EXPECT_EQ(page->DlFileListBox->count(), 0);
    write(meterDir + "b.csv", "1");
    write(meterDir + "A.CSV", "2");
    write(meterDir + "notes.txt", "3");
    write(meterDir + "c.csv.part", "4");
    page->RefreshFolderLists();
    EXPECT_EQ(page->DlFileListBox->names(), (QStringList{"A.CSV", "b.csv"}));
    page->DlFileListBox->setCurrentRow(1);

    write(meterDir + "0.csv", "5");
    page->RefreshFolderLists();
    EXPECT_EQ(page->DlFileListBox->names(), (QStringList{"0.csv", "A.CSV", "b.csv"}));
    ASSERT_NE(page->DlFileListBox->currentItem(), nullptr);
    EXPECT_EQ(page->DlFileListBox->currentItem()->text(), "b.csv");

    // A new meter folder: both lists move to it.
    const QString other = dir.filePath(QStringLiteral("data/7/"));
    QDir().mkpath(other);
    host->dataDir = other;
    page->RefreshFolderLists();
    EXPECT_EQ(page->DlFileListBox->count(), 0);
    EXPECT_EQ(page->FileListBox1->directory(), other);
}

TEST_F(DataPageTest, FolderActionsOpenThroughTheShell)
{
    write(meterDir + "report.csv", "x");
    page->PointFolderLists();
    page->OpenFileBtnClick(page->OpenFileBtn); // nothing selected
    EXPECT_TRUE(opened.empty());

    page->DlFileListBox->setCurrentRow(0);
    page->OpenFileBtnClick(page->OpenFileBtn);
    page->DlFileListBoxDblClick(page->DlFileListBox);
    page->ExplorerBtnClick(page->ExplorerBtn);
    ASSERT_EQ(opened.size(), 3u);
    EXPECT_EQ(opened[0].toLocalFile(), meterDir + "report.csv");
    EXPECT_EQ(opened[1].toLocalFile(), meterDir + "report.csv");
    EXPECT_EQ(QDir(opened[2].toLocalFile()), QDir(meterDir));
    EXPECT_TRUE(prompter.messages.empty());

    // Without a program to open them, each action names what it tried.
    openRefused = true;
    page->OpenFileBtnClick(page->OpenFileBtn);
    page->DlFileListBoxDblClick(page->DlFileListBox);
    page->ExplorerBtnClick(page->ExplorerBtn);
    EXPECT_EQ(prompter.texts(), (QStringList{unopenedText(meterDir + "report.csv"),
                                             unopenedText(meterDir + "report.csv"), unopenedText(meterDir)}));
    EXPECT_TRUE(QFile::exists(meterDir + "report.csv"));
}

TEST_F(DataPageTest, ListsShowTheMeterFilesAndTheDownloadedOne)
{
    listMeterFile("LOG0001.CSV");
    listMeterFile("LOG0002.CSV");
    write(meterDir + "LOG0001.CSV", "x");
    page->PointFolderLists();
    page->resize(690, 460);
    page->show();
    ASSERT_FALSE(TestSupport::screenshot(*page, QStringLiteral("pages-data")).isNull());
    const struct {
        QListWidget *list;
        QStringList names;
    } lists[] = {{page->FileList, {"LOG0001.CSV", "LOG0002.CSV"}}, {page->DlFileListBox, {"LOG0001.CSV"}}};
    for (const auto &l : lists) {
        ASSERT_EQ(l.list->count(), l.names.size()) << l.list->objectName().toStdString();
        for (int row = 0; row < l.list->count(); ++row) {
            EXPECT_EQ(l.list->item(row)->text().toStdString(), l.names[row].toStdString());
            EXPECT_TRUE(TestSupport::rowShown(*l.list, l.list->visualItemRect(l.list->item(row))))
                << l.list->objectName().toStdString() << " row " << row;
        }
    }
}
