#include "console/InfoPage.h"

#include "console/InfoTree.h"
#include "console/PageHost.h"
#include "link/Z960Port.h"

#include <QFont>
#include <QHeaderView>
#include <QTreeWidget>
#include <QVBoxLayout>

InfoPage::InfoPage(PageHost &host, QWidget *parent) : QWidget(parent), host_(host)
{
    setObjectName(QStringLiteral("InformationPage"));
    TreeView1 = new QTreeWidget(this);
    TreeView1->setObjectName(QStringLiteral("TreeView1"));
    TreeView1->setHeaderHidden(true);
    TreeView1->setColumnCount(1);
    TreeView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Fixed pitch, so the padded captions line up as a column.
    QFont font(QStringLiteral("Monospace"));
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setPixelSize(13);
    TreeView1->setFont(font);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(TreeView1);
    if (parent != nullptr && parent->layout() == nullptr) {
        auto *fill = new QVBoxLayout(parent);
        fill->setContentsMargins(0, 0, 0, 0);
        fill->addWidget(this);
    }
}

void InfoPage::BuildInformationTree()
{
    TreeView1->clear();
    const Z960Port *port = host_.link();
    if (port == nullptr)
        return;
    const InfoTree::Tree tree = InfoTree::build(
        {port->calImage, port->configImage, port->basicCalImage, port->systemImage, port->statusImage});

    auto *root = new QTreeWidgetItem(TreeView1, QStringList{tree.root});
    // No lines or expand buttons at root level.
    TreeView1->setRootIsDecorated(false);
    for (const InfoTree::Group &group : tree.groups) {
        auto *node = new QTreeWidgetItem(root, QStringList{group.caption});
        for (const QString &line : group.lines)
            new QTreeWidgetItem(node, QStringList{line});
    }
    TreeView1->expandAll();
    TreeView1->setCurrentItem(root);
}
