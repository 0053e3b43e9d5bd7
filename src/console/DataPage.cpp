#include "console/DataPage.h"

#include "console/PageControls.h"
#include "console/PageHost.h"
#include "console/TDlProgForm.h"
#include "link/Z960Port.h"
#include "platform/Prompter.h"
#include "platform/ShellOpen.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr const char *kDownloadCaption = "File download";
constexpr const char *kIndexFileName = "index.txt";
constexpr const char *kCsvMask = "*.csv";

// File type codes of the radio items "Log", "Diagnostic", "Alarm", "System".
constexpr unsigned char kFileTypeCodes[] = {0, 2, 6, 1};

QString shown(const QByteArray &name) { return QString::fromLatin1(name); }

// A name for a message: control characters shown as '?'.
QString printable(const QByteArray &name)
{
    QByteArray p = name;
    for (char &c : p)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    return shown(p);
}

QByteArray localBytes(const QString &path) { return QFile::encodeName(path); }

QPushButton *button(QWidget *parent, const char *name, const char *caption)
{
    auto *b = new QPushButton(QString::fromLatin1(caption), parent);
    b->setObjectName(QString::fromLatin1(name));
    return b;
}

} // namespace

DataPage::DataPage(PageHost &host, QWidget *parent) : QWidget(parent), host_(host)
{
    setObjectName(QStringLiteral("DataPage"));
    buildControls();
    if (parent != nullptr && parent->layout() == nullptr) {
        auto *fill = new QVBoxLayout(parent);
        fill->setContentsMargins(0, 0, 0, 0);
        fill->addWidget(this);
    }
}

void DataPage::buildControls()
{
    FileTypeRadioGroup = new TRadioGroup(QString(), {QStringLiteral("Log"), QStringLiteral("Diagnostic"),
                                                     QStringLiteral("Alarm"), QStringLiteral("System")},
                                         this);
    FileTypeRadioGroup->setObjectName(QStringLiteral("FileTypeRadioGroup"));
    FileTypeRadioGroup->SetItemIndex(0);
    FileTypeRadioGroup->OnClick = [this] { FilelistRefreshBtnClick(FileTypeRadioGroup); };

    FileListLbl = new QLabel(QStringLiteral("Flowmeter log files"), this);
    FileListLbl->setObjectName(QStringLiteral("FileListLbl"));
    FileList = new QListWidget(this);
    FileList->setObjectName(QStringLiteral("FileList"));

    FilelistRefreshBtn = button(this, "FilelistRefreshBtn", "Refresh File List");
    DownLoadBtn = button(this, "DownLoadBtn", "Download File");
    DlCheckBox = new QCheckBox(QStringLiteral("Open downloaded files"), this);
    DlCheckBox->setObjectName(QStringLiteral("DlCheckBox"));
    DlCheckBox->setChecked(true);

    DlFileListLbl = new QLabel(QStringLiteral("Vantoro data files"), this);
    DlFileListLbl->setObjectName(QStringLiteral("DlFileListLbl"));
    DlFileListBox = new TFileListBox(this);
    DlFileListBox->setObjectName(QStringLiteral("DlFileListBox"));
    DlFileListBox->setMask(QString::fromLatin1(kCsvMask));
    // A second, never visible view of the folder, only to notice changes.
    FileListBox1 = new TFileListBox(this);
    FileListBox1->setObjectName(QStringLiteral("FileListBox1"));
    FileListBox1->setMask(QString::fromLatin1(kCsvMask));
    FileListBox1->setFixedSize(0, 0);
    FileListBox1->hide();

    OpenFileBtn = button(this, "OpenFileBtn", "Open Selected File");
    ExplorerBtn = button(this, "ExplorerBtn", "Windows Explorer");
    BackupLogsBtn = button(this, "BackupLogsBtn", "Backup Logs to SD Card");

    auto *grid = new QGridLayout(this);
    grid->addWidget(FileTypeRadioGroup, 0, 0, 5, 1, Qt::AlignTop);
    grid->addWidget(FileListLbl, 0, 1);
    grid->addWidget(FileList, 1, 1, 4, 1);
    grid->addWidget(FilelistRefreshBtn, 1, 2);
    grid->addWidget(DownLoadBtn, 2, 2);
    grid->addWidget(DlCheckBox, 3, 2);
    grid->addWidget(BackupLogsBtn, 4, 2, Qt::AlignTop);
    grid->addWidget(DlFileListLbl, 5, 1);
    grid->addWidget(DlFileListBox, 6, 1, 3, 1);
    grid->addWidget(OpenFileBtn, 6, 2);
    grid->addWidget(ExplorerBtn, 7, 2);
    grid->addWidget(FileListBox1, 8, 2);
    grid->setColumnStretch(1, 1);

    connect(FilelistRefreshBtn, &QPushButton::clicked, this, [this] { FilelistRefreshBtnClick(FilelistRefreshBtn); });
    connect(DownLoadBtn, &QPushButton::clicked, this, [this] { DownLoadBtnClick(DownLoadBtn); });
    connect(OpenFileBtn, &QPushButton::clicked, this, [this] { OpenFileBtnClick(OpenFileBtn); });
    connect(ExplorerBtn, &QPushButton::clicked, this, [this] { ExplorerBtnClick(ExplorerBtn); });
    connect(BackupLogsBtn, &QPushButton::clicked, this, [this] { BackupLogsBtnClick(BackupLogsBtn); });
    connect(DlFileListBox, &QListWidget::itemDoubleClicked, this, [this] { DlFileListBoxDblClick(DlFileListBox); });
}

// ---- helpers ------------------------------------------------------------------

unsigned char DataPage::fileTypeCode(int itemIndex)
{
    if (itemIndex < 0 || itemIndex >= static_cast<int>(sizeof kFileTypeCodes))
        return 0;
    return kFileTypeCodes[itemIndex];
}

QList<QByteArray> DataPage::indexLines(const QByteArray &contents)
{
    QList<QByteArray> lines;
    QByteArray line;
    bool open = false; // a line has begun that no terminator has ended
    for (int i = 0; i < contents.size(); ++i) {
        const char c = contents[i];
        if (c == '\r' || c == '\n') {
            lines << line;
            line.clear();
            open = false;
            if (c == '\r' && i + 1 < contents.size() && contents[i + 1] == '\n')
                ++i;
            continue;
        }
        line += c;
        open = true;
    }
    if (open)
        lines << line;
    return lines;
}

bool DataPage::isPlainFileName(const QByteArray &name)
{
    if (name.isEmpty() || name.size() > kMaxFileNameLength || name.contains(".."))
        return false;
    for (const char c : name) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b > 0x7E || c == '/' || c == '\\')
            return false;
    }
    return name != ".";
}

QList<QByteArray> DataPage::meterFileNames() const
{
    QList<QByteArray> names;
    for (int i = 0; i < FileList->count(); ++i)
        names << FileList->item(i)->data(Qt::UserRole).toByteArray();
    return names;
}

void DataPage::pump() { QCoreApplication::processEvents(); }

void DataPage::openProgress(const char *caption)
{
    auto *form = new TDlProgForm(host_.hostWindow(), false);
    form->setWindowTitle(QString::fromLatin1(caption));
    host_.setProgressForm(form);
    form->show();
}

void DataPage::freeProgress()
{
    if (TDlProgForm *form = host_.progressForm()) {
        host_.setProgressForm(nullptr);
        delete form;
    }
}

void DataPage::setDownloadControlsEnabled(bool enabled)
{
    for (QWidget *w : {static_cast<QWidget *>(FileTypeRadioGroup), static_cast<QWidget *>(FilelistRefreshBtn),
                       static_cast<QWidget *>(DownLoadBtn), static_cast<QWidget *>(BackupLogsBtn),
                       static_cast<QWidget *>(OpenFileBtn)})
        w->setEnabled(enabled);
}

// ---- refresh ------------------------------------------------------------------

void DataPage::FilelistRefreshBtnClick(QObject *)
{
    PageOperation op(host_);
    if (!op || host_.link() == nullptr)
        return;
    host_.EnableNavButtons(false);
    // The page's own controls would only be refused while the list comes in.
    setDownloadControlsEnabled(false);
    const unsigned char type = fileTypeCode(FileTypeRadioGroup->ItemIndex());
    const QString indexPath = host_.meterDataDir() + QString::fromLatin1(kIndexFileName);

    FileList->clear();
    pump();
    openProgress(kDownloadCaption);
    for (int position : {0, 50}) {
        if (TDlProgForm *form = host_.progressForm())
            form->SetProgress("Retrieving log file list", "Progress", position);
        pump();
    }

    Z960Port *port = host_.link();
    bool pinged = false;
    if (port != nullptr && !host_.closingDown()) {
        port->DelayTicks(50);
        pinged = !host_.closingDown() && host_.link() != nullptr && host_.link()->sendNullCommand();
    }
    if (!pinged && !host_.closingDown()) {
        host_.LostLinkQuestion();
    } else if (pinged && !host_.closingDown()) {
        if (TDlProgForm *form = host_.progressForm())
            form->SetProgress("Retrieving log file list", "Progress", 75);
        const bool listed = host_.link()->getLogFileIndex(localBytes(indexPath).constData(), type, false);
        if (listed && !host_.closingDown()) {
            if (TDlProgForm *form = host_.progressForm())
                form->SetProgress("File list download", "Done", 100);
            pump();
            const bool wanted = !host_.closingDown(); // after a close nothing more is shown
            if (wanted && !QFileInfo::exists(indexPath))
                Platform::showMessage(QStringLiteral("Unable to open index file"), host_.hostWindow());
            else if (wanted)
                loadIndex(indexPath);
        }
    }

    freeProgress();
    if (QFileInfo::exists(indexPath))
        QFile::remove(indexPath);
    setDownloadControlsEnabled(true);
    if (!host_.closingDown())
        host_.EnableNavButtons(true);
}

void DataPage::loadIndex(const QString &indexPath)
{
    QFile file(indexPath);
    QList<QByteArray> lines;
    if (file.open(QIODevice::ReadOnly))
        lines = indexLines(file.readAll());
    if (TDlProgForm *form = host_.progressForm())
        form->hide();
    if (lines.size() < 2) {
        Platform::showMessage(QStringLiteral("No Files found on flowmeter sdcard"), host_.hostWindow());
        return;
    }
    lines.removeFirst(); // the header
    for (const QByteArray &name : lines) {
        auto *item = new QListWidgetItem(shown(name), FileList);
        item->setData(Qt::UserRole, name);
    }
    FileList->setCurrentRow(FileList->count() - 1);
}

// ---- download -----------------------------------------------------------------

void DataPage::DownLoadBtnClick(QObject *)
{
    PageOperation op(host_);
    if (!op || host_.link() == nullptr)
        return;
    host_.EnableNavButtons(false);
    QListWidgetItem *selected = FileList->currentItem();
    if (selected != nullptr && selected->isSelected()) {
        const QByteArray name = selected->data(Qt::UserRole).toByteArray();
        if (!isPlainFileName(name)) {
            // Nothing is requested or written for a name that could leave the folder.
            Platform::showMessage(QStringLiteral("The flowmeter file name \"%1\" cannot be used as a file name "
                                                 "on this PC. Nothing was downloaded.")
                                      .arg(printable(name)),
                                  host_.hostWindow());
        } else {
            setDownloadControlsEnabled(false);
            openProgress(kDownloadCaption);
            if (TDlProgForm *form = host_.progressForm())
                form->SetProgress(kDownloadCaption, "Progress", 0);
            const QString localPath = host_.meterDataDir() + QString::fromLatin1(name);
            Z960Port *port = host_.link();
            port->DelayTicks(5);
            const bool pinged = !host_.closingDown() && host_.link() != nullptr && host_.link()->sendNullCommand();
            const bool stored = pinged && downloadInto(QByteArray("\\") + name, localPath);
            // The download is over: its dialog goes before anything is asked, said or opened.
            freeProgress();
            if (!pinged) {
                if (!host_.closingDown())
                    host_.LostLinkQuestion();
            } else if (stored) {
                if (DlCheckBox->isChecked() && !host_.closingDown())
                    Platform::shellOpenOrTell(localPath, host_.hostWindow());
            } else if (!host_.closingDown()) {
                Platform::showMessage(QStringLiteral("Failed to download file"), host_.hostWindow());
            }
            setDownloadControlsEnabled(true);
        }
    }
    if (!host_.closingDown())
        host_.EnableNavButtons(true);
}

bool DataPage::downloadInto(const QByteArray &remote, const QString &localPath)
{
    const QString partial = localPath + QString::fromLatin1(kPartialSuffix);
    const QByteArray partialBytes = localBytes(partial);
    Z960Port *port = host_.link();
    bool done = port != nullptr && !host_.closingDown() && port->getLogFile(remote.constData(), partialBytes.constData(), true);
    // rename() replaces an earlier copy in one step, so the target is never half written.
    if (done)
        done = std::rename(partialBytes.constData(), localBytes(localPath).constData()) == 0;
    if (!done)
        QFile::remove(partial);
    return done;
}

// ---- progress -----------------------------------------------------------------

void DataPage::PortFileProgress(QObject *, int size, int downloaded, int)
{
    TDlProgForm *form = host_.progressForm();
    if (form == nullptr)
        return;
    // Shown first, so that its position counts its frame as the move does.
    form->show();
    const QWidget *main = host_.hostWindow();
    if (main != nullptr) {
        const int left = main->x() + main->width() / 2 - form->width() / 2;
        const int top = main->y() + main->height() / 2 - form->height() / 2;
        if (std::abs(form->x() - left) > 10 || std::abs(form->y() - top) > 10)
            form->move(left, top);
    }
    // A file fetched again says so; its bar starts again with the fetch.
    const Z960Port::FetchCount fetch = host_.link() != nullptr ? host_.link()->fetchUnderWay() : Z960Port::FetchCount{};
    form->SetNote(fetch.number > 1 ? "Fetching the file again (" + std::to_string(fetch.number) + " of " +
                                         std::to_string(fetch.of) + ")"
                                   : std::string());
    if (size <= 0)
        return;
    // A log the meter appends to while sending brings more than announced:
    // never more than all of it.
    const int percent = std::clamp(static_cast<int>(std::trunc(downloaded * 100.0 / size)), 0, 100);
    form->SetProgress(kDownloadCaption, "Progress - " + std::to_string(percent) + "% received", percent);
}

// ---- folder -------------------------------------------------------------------

void DataPage::OpenFileBtnClick(QObject *)
{
    const QString path = DlFileListBox->selectedPath();
    if (!path.isEmpty())
        Platform::shellOpenOrTell(path, host_.hostWindow());
}

void DataPage::DlFileListBoxDblClick(QObject *Sender)
{
    auto *list = qobject_cast<TFileListBox *>(Sender);
    if (list == nullptr)
        return;
    const QString path = list->selectedPath();
    if (!path.isEmpty())
        Platform::shellOpenOrTell(path, host_.hostWindow());
}

void DataPage::ExplorerBtnClick(QObject *) { Platform::shellOpenOrTell(host_.meterDataDir(), host_.hostWindow()); }

void DataPage::BackupLogsBtnClick(QObject *)
{
    PageOperation op(host_);
    if (!op)
        return;
    if (Z960Port *port = host_.link())
        port->backupLogsToSdcard();
}

void DataPage::PointFolderLists()
{
    const QString dir = host_.meterDataDir();
    FileListBox1->setDirectory(dir);
    DlFileListBox->setDirectory(dir);
}

void DataPage::RefreshFolderLists()
{
    if (FileListBox1->directory() != host_.meterDataDir()) {
        PointFolderLists();
        return;
    }
    FileListBox1->Update();
    if (FileListBox1->names() != DlFileListBox->names())
        DlFileListBox->Update();
}
