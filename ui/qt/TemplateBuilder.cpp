// SPDX-License-Identifier: GPL-3.0-or-later
#include "TemplateBuilder.h"

#include "CaptionFrame.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStringList>
#include <QTabBar>
#include <QTreeWidget>

#include <cmath>

static void registerNorvexResources() {
    Q_INIT_RESOURCE(norvex);
}

namespace norvex::qt {

void initResources() {
    static const bool done = (registerNorvexResources(), true);
    (void)done;
}

int duToPxX(int du) {
    return static_cast<int>(std::lround(du * DU_X));
}
int duToPxY(int du) {
    return static_cast<int>(std::lround(du * DU_Y));
}

QRect duToPx(int x, int y, int w, int h) {
    const int left = duToPxX(x), top = duToPxY(y);
    return QRect(left, top, duToPxX(x + w) - left, duToPxY(y + h) - top);
}

Qt::WindowFlags dialogWindowFlags() {
    return Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;
}

Qt::WindowFlags mainWindowFlags() {
    return Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
           Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint;
}

QPixmap digitImage(int digit) {
    if (digit < 0 || digit > 9) digit = 0;
    return QPixmap(QStringLiteral(":/norvex/images/digit%1.png").arg(digit));
}

QPixmap boxImage(bool ticked) {
    return QPixmap(ticked ? QStringLiteral(":/norvex/images/box_ticked.png")
                          : QStringLiteral(":/norvex/images/box_empty.png"));
}

QSize templateSize(const Template& t) {
    return QSize(duToPxX(t.w), duToPxY(t.h));
}

QWidget* BuiltControls::find(int id) const {
    auto it = byId.find(id);
    return it == byId.end() ? nullptr : it->second;
}

namespace {

// Tabs just wide enough for their texts, so that the six pages share the page frame's width.
class CompactTabBar final : public QTabBar {
public:
    using QTabBar::QTabBar;

protected:
    QSize tabSizeHint(int index) const override {
        QSize size = QTabBar::tabSizeHint(index);
        size.setWidth(fontMetrics().horizontalAdvance(tabText(index)) + 24);
        return size;
    }
};

// A drop-down box is as tall as one entry; the template's height includes the open list.
constexpr int COMBO_HEIGHT_DU = 14;

QWidget* makeList(const Control& c, QWidget* parent) {
    auto* list = new QTreeWidget(parent);
    const QStringList columns = QString::fromUtf8(c.text).split(u'|');
    QStringList headers;
    list->setColumnCount(static_cast<int>(columns.size()));
    for (int i = 0; i < columns.size(); ++i) {
        const qsizetype colon = columns[i].lastIndexOf(u':');
        headers << columns[i].left(colon);
        list->setColumnWidth(i, columns[i].mid(colon + 1).toInt());
    }
    list->setHeaderLabels(headers);
    list->header()->setStretchLastSection(false);
    list->header()->setSectionsMovable(false);
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setIconSize(QSize(16, 16));
    list->setAllColumnsShowFocus(true);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    return list;
}

QWidget* makeControl(const Control& c, QWidget* parent, BuiltControls& built, QButtonGroup*& group,
                     int& groupId) {
    const QString text = QString::fromUtf8(c.text);
    switch (c.kind) {
    case Kind::Group:
        return new CaptionFrame(text, parent);
    case Kind::Label:
    case Kind::LabelRight:
    case Kind::LabelCentre: {
        auto* l = new QLabel(text, parent);
        l->setAlignment(c.kind == Kind::Label        ? Qt::AlignLeft | Qt::AlignVCenter
                        : c.kind == Kind::LabelRight ? Qt::AlignRight | Qt::AlignVCenter
                                                     : Qt::AlignCenter);
        return l;
    }
    case Kind::Field: {
        auto* l = new QLabel(text, parent);
        l->setAlignment(Qt::AlignCenter);
        l->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        l->setLineWidth(1);
        return l;
    }
    case Kind::Picture: {
        auto* l = new QLabel(parent);
        const QPixmap pm(text);
        l->setPixmap(pm);
        l->setProperty("resource", text);
        return l;
    }
    case Kind::GreyRect: {
        auto* f = new QFrame(parent);
        f->setAutoFillBackground(true);
        QPalette pal = f->palette();
        pal.setColor(QPalette::Window, QColor(160, 160, 160));
        f->setPalette(pal);
        return f;
    }
    case Kind::Button:
    case Kind::DefaultButton:
    case Kind::CheckPush:
    case Kind::RadioPush: {
        auto* b = new QPushButton(text, parent);
        b->setAutoDefault(false);
        if (c.kind == Kind::DefaultButton) b->setDefault(true);
        if (c.kind == Kind::CheckPush || c.kind == Kind::RadioPush) b->setCheckable(true);
        if (c.kind == Kind::RadioPush) {
            if ((c.flags & GROUP_START) || !group) {
                group = new QButtonGroup(parent);
                groupId = c.id;
                built.radioGroups[groupId] = group;
            }
            group->addButton(b, c.id);
            b->setChecked(c.flags & CHECKED);
        } else {
            group = nullptr;
        }
        return b;
    }
    case Kind::Radio: {
        auto* r = new QRadioButton(text, parent);
        r->setAutoExclusive(false);
        if ((c.flags & GROUP_START) || !group) {
            group = new QButtonGroup(parent);
            groupId = c.id;
            built.radioGroups[groupId] = group;
        }
        group->addButton(r, c.id);
        r->setChecked(c.flags & CHECKED);
        return r;
    }
    case Kind::Check: {
        auto* b = new QCheckBox(text, parent);
        b->setChecked(c.flags & CHECKED);
        return b;
    }
    case Kind::Edit:
        return new QLineEdit(text, parent);
    case Kind::Combo: {
        auto* box = new QComboBox(parent);
        box->addItems(text.split(u'|'));
        return box;
    }
    case Kind::Tabs: {
        auto* tabs = new CompactTabBar(parent);
        QFont small = tabs->font();
        small.setPixelSize(10);
        tabs->setFont(small);
        tabs->setExpanding(false);
        tabs->setDrawBase(false);
        tabs->setUsesScrollButtons(true);
        for (const QString& t : text.split(u'|'))
            tabs->addTab(t);
        return tabs;
    }
    case Kind::List:
        return makeList(c, parent);
    case Kind::Progress: {
        auto* p = new QProgressBar(parent);
        p->setTextVisible(false);
        return p;
    }
    }
    return nullptr;
}

} // namespace

BuiltControls buildTemplate(const Template& t, QWidget* parent) {
    initResources();
    BuiltControls built;
    QButtonGroup* group = nullptr;
    int groupId = NO_ID;
    for (const Control& c : t.controls) {
        if (c.kind != Kind::Radio && c.kind != Kind::RadioPush) group = nullptr;
        QWidget* w = makeControl(c, parent, built, group, groupId);
        if (!w) continue;
        QRect r = duToPx(c.x, c.y, c.w, c.h);
        if (c.kind == Kind::Picture) {
            if (auto* l = qobject_cast<QLabel*>(w); l && !l->pixmap().isNull()) r.setSize(l->pixmap().size());
        } else if (c.kind == Kind::Combo) {
            r.setHeight(duToPxY(COMBO_HEIGHT_DU));
        }
        w->setGeometry(r);
        if (c.id != NO_ID) {
            w->setObjectName(QStringLiteral("ctl%1").arg(c.id));
            built.byId[c.id] = w;
        }
    }
    return built;
}

} // namespace norvex::qt
