// The Data page: the list of log files on the meter's SD card, their
// download into the meter's folder on the PC, and the "*.csv" files that
// folder already holds.
//
// The meter's file list comes as "index.txt" (a header line, then one name a
// line), which the page reads and deletes after every refresh. Names are kept
// as the meter's exact bytes: they go back to the meter unchanged, and are
// used as a local file name only when they are one plain, printable path
// component. A download is written beside its target under a temporary name
// and takes the target's place only once it completed, so a failed or
// aborted transfer never leaves a partial file or spoils an earlier copy.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QWidget>

class PageHost;
class QCheckBox;
class QLabel;
class QListWidget;
class QPushButton;
class TFileListBox;
class TRadioGroup;

class DataPage : public QWidget {
    Q_OBJECT
public:
    DataPage(PageHost &host, QWidget *parent = nullptr);

    // Fetches the meter's file list of the chosen type into FileList. Also the
    // click of FileTypeRadioGroup, and run by the Data button.
    void FilelistRefreshBtnClick(QObject *Sender);
    // Downloads the selected FileList entry into the meter's folder.
    void DownLoadBtnClick(QObject *Sender);
    // The link's file progress: keeps the progress dialog centred and shown,
    // and shows the percentage received.
    void PortFileProgress(QObject *Sender, int size, int downloaded, int temp);
    void OpenFileBtnClick(QObject *Sender);
    void DlFileListBoxDblClick(QObject *Sender);
    void ExplorerBtnClick(QObject *Sender);
    // Asks the meter to copy its logs to its SD card; the result is not shown.
    void BackupLogsBtnClick(QObject *Sender);

    // Points both folder lists at the meter's folder (after it was named).
    void PointFolderLists();
    // The clock's once-a-second look at the folder: re-reads the hidden list
    // and the visible one only when the folder's names changed.
    void RefreshFolderLists();

    // The meter's file names of FileList, as their exact bytes.
    QList<QByteArray> meterFileNames() const;

    // Request code of a FileTypeRadioGroup item (none selected: 0).
    static unsigned char fileTypeCode(int itemIndex);
    // The lines of an index file (CR LF, LF or CR separated; a last line
    // terminator adds no empty line).
    static QList<QByteArray> indexLines(const QByteArray &contents);
    // True for a name usable as one local file name: not empty, at most
    // kMaxFileNameLength bytes of printable ASCII, no "/" or "\", no "..".
    static bool isPlainFileName(const QByteArray &name);
    // Room for the temporary suffix within a file system's 255-byte names.
    static constexpr int kMaxFileNameLength = 240;
    static constexpr const char *kPartialSuffix = ".part";

    TRadioGroup *FileTypeRadioGroup;
    QLabel *FileListLbl;
    QListWidget *FileList;
    QPushButton *FilelistRefreshBtn;
    QPushButton *DownLoadBtn;
    QCheckBox *DlCheckBox;
    QLabel *DlFileListLbl;
    TFileListBox *DlFileListBox;
    TFileListBox *FileListBox1;
    QPushButton *OpenFileBtn;
    QPushButton *ExplorerBtn;
    QPushButton *BackupLogsBtn;

private:
    void buildControls();
    void openProgress(const char *caption);
    void freeProgress();
    void setDownloadControlsEnabled(bool enabled);
    void loadIndex(const QString &indexPath);
    // Fetches remote into localPath through a temporary file; true when the
    // complete file is in place.
    bool downloadInto(const QByteArray &remote, const QString &localPath);
    static void pump();

    PageHost &host_;
};
