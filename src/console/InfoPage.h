// The "Information" sheet of the status page: a read-only tree of the
// connected meter's identity and settings, rebuilt only when told (after the
// connection has read the meter and after a setup write-back).
#pragma once

#include <QWidget>

class PageHost;
class QTreeWidget;

class InfoPage : public QWidget {
    Q_OBJECT
public:
    InfoPage(PageHost &host, QWidget *parent = nullptr);

    // Clears TreeView1 and fills it from the link's images: the root, its
    // fifteen groups and their lines, all expanded, the root selected.
    // Without a link the tree stays empty.
    void BuildInformationTree();

    QTreeWidget *TreeView1;

private:
    PageHost &host_;
};
