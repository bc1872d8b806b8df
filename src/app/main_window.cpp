// The main window's widgets, their binding to the controls, and its events. What the logic
// asks of the window system (dialogs, message boxes, the desktop's programs) is in
// main_window_host.cpp.
#include "app/main_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QTimer>

#include "app/banners.h"
#include "app/frm_about.h"
#include "app/frm_help.h"
#include "app/qt_text.h"

namespace vexo {

namespace {

struct Placement {
    const char* name;
    int x, y, w, h;
    const char* text;
    const char* hint;
};

// Labels of the window (name, geometry, caption).
const Placement kLabels[] = {
    {"Label7", 8, 100, 133, 13, "Quake III Arena Path:", nullptr},
    {"labCodecName", 148, 100, 232, 13, "(not visible)", nullptr},
    {"Label8", 8, 140, 89, 13, "Output Path:", nullptr},
    {"Label3", 8, 180, 105, 13, "Use Modification:", nullptr},
    {"Label2", 8, 220, 113, 13, "Use Config:", nullptr},
    {"Label1", 8, 260, 149, 13, "Use Resolution:", nullptr},
    {"Label10", 8, 300, 45, 13, "AVI FPS:", nullptr},
    {"Label4", 56, 300, 45, 13, "FPS:", nullptr},
    {"Label5", 104, 300, 53, 13, "Timescale:", nullptr},
    {"Label9", 8, 340, 149, 13, "AVI Gamma (very slow!):", nullptr},
    {"Label6", 172, 180, 209, 13, "Select demos:", nullptr},
};

const Placement kButtons[] = {
    {"btnBasePathSet", 386, 116, 23, 21, "...", "Click to locate your Quake III Arena executable"},
    {"btnOutPathSet", 386, 156, 23, 21, "...",
     "Click to locate the output directory to store AVI files in"},
    {"btnRunMod", 120, 183, 16, 10, "R", "Launch Q3A and run the selected modification"},
    {"btnOpenModDir", 140, 183, 16, 10, "O", "Open selected modification folder"},
    {"btnEditConfig", 120, 223, 16, 10, "E", "Edit selected config file with Notepad"},
    {"btnOpenConfigDir", 140, 223, 16, 10, "O", "Open configuration file folder"},
    {"Button1", 372, 183, 16, 10, "R", "Refresh list of demos for selected modification"},
    {"btnOpenDemosDir", 392, 183, 16, 10, "O", "Open demos folder of selected modification"},
    {"btnStart", 172, 396, 53, 25, "&Start",
     "Click this when you're happy with the settings and when you have picked demos above."},
    {"btnCodec", 228, 396, 45, 25, "&Codec",
     "Click here to select the video codec to use for the output AVI (I highly recommend the "
     "Huffyuv lossless compressor for intermediate files)"},
    {"btnAbout", 276, 396, 45, 25, "&About", nullptr},
    {"btnHelp", 324, 396, 25, 25, "?", "Need help?"},
    {"btnQuit", 365, 396, 45, 25, "&Quit", nullptr},
};

const Placement kEdits[] = {
    {"edBasePath", 8, 116, 373, 21, nullptr,
     "The full path to your Quake III Arena home directory."},
    {"edOutPath", 8, 156, 373, 21, nullptr, "The full output path for generated AVI video files."},
    {"edAviFps", 8, 316, 45, 21, nullptr,
     "Number of frames per second for the output AVI video file. This is NOT the Q3A fps number!"},
    {"edFps", 56, 316, 45, 21, nullptr,
     "Pick the number of Q3A frames to capture per second (the higher the smoother your video "
     "gets)"},
    {"edTimeScale", 104, 316, 53, 21, nullptr,
     "Use this to set the initial Q3A timescale (1.0 = normal speed, 0.5 = slower, 2 = faster)"},
    {"edDemoName", 172, 368, 237, 21, nullptr, "Name of selected demo. For easy copy and paste."},
};

const Placement kCombos[] = {
    {"cbMods", 8, 196, 149, 21, nullptr,
     "Pick the modification to use or \"baseq3\" for Classic Quake 3 Arena"},
    {"cbConfigs", 8, 236, 149, 21, nullptr,
     "Pick the configuration file to use (see config/ directory in app folder)"},
    {"cbModes", 8, 276, 150, 21, nullptr, "Pick the resolution to use for the AVI output frames"},
    {"cbGammas", 8, 356, 149, 21, nullptr,
     "EXPERIMENTAL! Gamma correction for output AVI (a value other than 1.0 is currently slowing "
     "down A LOT). This is NOT the Q3A ingame gamma!"},
};

const Placement kChecks[] = {
    {"cbWindowed", 8, 384, 73, 17, "&Windowed",
     "Check this to run Q3A windowed (recommended). Uncheck it if your output AVI frames look "
     "damaged."},
    {"cbDraw2D", 84, 384, 73, 17, "Draw &2D",
     "Check this to draw ingame 2D elements like the HUD. Uncheck it to hide 2D elements."},
    {"cbRealtime", 8, 404, 73, 17, "&Realtime",
     "EXPERIMENTAL! Check this to write the AVI while Q3 is running. Use this on POWERFUL systems "
     "only or your AVIs might screw up."},
    {"cbDrawGun", 84, 404, 73, 17, "Draw &Gun",
     "Check this to draw the ingame gun. Uncheck it to hide the gun."},
};

template <typename W> W* Make(QWidget* parent, const Placement& p) {
    auto* w = new W(parent);
    w->setObjectName(p.name);
    w->setGeometry(p.x, p.y, p.w, p.h);
    if (p.hint)
        w->setToolTip(p.hint);
    return w;
}

void BindEnabled(TControl& control, QWidget* widget) {
    widget->setEnabled(control.Enabled());
    widget->setVisible(control.Visible());
}

} // namespace

MainWindow::MainWindow(CAviFile& writer, platform::MainThreadQueue& queue)
    : QWidget(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      queue_(queue) {
    setObjectName("frmMain");
    setWindowTitle(kMainCaption);
    setFixedSize(420, 448);
    move(370, 177);
    QFont font("DejaVu Sans Condensed");
    font.setPixelSize(11);
    setFont(font);
    form_ = std::make_unique<TfrmMain>(*this, writer, queue);
    BuildWidgets();
    BindControls();
    // Work handed over by worker threads runs on this thread as soon as the loop is idle.
    queue_.SetWakeHook([this] {
        QMetaObject::invokeMethod(
            this, [this] { queue_.Drain(); }, Qt::QueuedConnection);
    });
    timer_ = new QTimer(this);
    timer_->setObjectName("timer");
    timer_->setInterval(100);
    connect(timer_, &QTimer::timeout, this, [this] { Run(&TfrmMain::timerTimer); });
    timer_->start();
}

MainWindow::~MainWindow() {
    queue_.SetWakeHook({});
}

void MainWindow::CreateAuxiliaryWindows() {
    about_ = new TfrmAbout(this);
    help_ = new TfrmHelp(this);
}

void MainWindow::Run(void (TfrmMain::*handler)()) {
    form_->Guard([&] { (form_.get()->*handler)(); });
}

void MainWindow::BuildWidgets() {
    // Banner strip.
    auto* panel2 = new QFrame(this);
    panel2->setObjectName("Panel2");
    panel2->setGeometry(0, 0, 420, 31);
    imgPpBanner_ = new QLabel(panel2);
    imgPpBanner_->setObjectName("imgPpBanner");
    imgPpBanner_->setGeometry(0, 0, 420, 31);
    imgPpBanner_->setPixmap(DrawDonationBanner(420, 31));
    imgPpBanner_->setCursor(Qt::PointingHandCursor);
    imgPpBanner_->setToolTip("Like Vexograph? Click here to support it with a donation.");
    imgPpBanner_->installEventFilter(this);

    auto* panel1 = new QFrame(this);
    panel1->setObjectName("Panel1");
    panel1->setGeometry(0, 31, 420, 64);
    imgAppBanner_ = new QLabel(panel1);
    imgAppBanner_->setObjectName("imgAppBanner");
    imgAppBanner_->setGeometry(0, 0, 420, 64);
    imgAppBanner_->setPixmap(DrawAppBanner(420, 64));
    imgAppBanner_->setCursor(Qt::PointingHandCursor);
    imgAppBanner_->setToolTip("Visit the Vexograph web site");
    imgAppBanner_->installEventFilter(this);
    label11_ = new QLabel(panel1);
    label11_->setObjectName("Label11");
    label11_->setGeometry(16, 16, 37, 37);
    label11_->setAttribute(Qt::WA_TranslucentBackground);
    label11_->setCursor(Qt::PointingHandCursor);
    label11_->setToolTip(imgAppBanner_->toolTip());
    label11_->installEventFilter(this);

    for (const Placement& p : kLabels)
        Make<QLabel>(this, p)->setText(p.text);
    auto* labCodecName = findChild<QLabel*>("labCodecName");
    labCodecName->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    labCodecName->setStyleSheet("color: gray;");
    labCodecName->hide();

    auto* bevel = new QFrame(this);
    bevel->setObjectName("Bevel1");
    bevel->setFrameShape(QFrame::VLine);
    bevel->setFrameShadow(QFrame::Sunken);
    bevel->setGeometry(164, 180, 2, 241);

    QFont small = font();
    small.setPixelSize(7);
    for (const Placement& p : kButtons) {
        auto* b = Make<QPushButton>(this, p);
        b->setText(p.text);
        b->setFocusPolicy(Qt::TabFocus);
        if (p.h == 10) {
            b->setFont(small);
            b->setStyleSheet("QPushButton { padding: 0px; margin: 0px; }");
        }
    }
    QFont bold = font();
    bold.setBold(true);
    findChild<QPushButton*>("btnStart")->setFont(bold);

    for (const Placement& p : kEdits)
        Make<QLineEdit>(this, p);
    for (const char* name : {"edBasePath", "edOutPath", "edDemoName"}) {
        auto* e = findChild<QLineEdit*>(name);
        QPalette pal = e->palette();
        pal.setColor(QPalette::Base, pal.color(QPalette::Button));
        e->setPalette(pal);
    }
    findChild<QLineEdit*>("edOutPath")->setReadOnly(true);
    auto* demoName = findChild<QLineEdit*>("edDemoName");
    demoName->setReadOnly(true);
    demoName->installEventFilter(this);
    edDemoName_ = demoName;

    for (const Placement& p : kCombos)
        Make<QComboBox>(this, p)->setEditable(false);
    for (const Placement& p : kChecks) {
        auto* box = Make<QCheckBox>(this, p);
        box->setText(p.text);
        // A narrow gap after the box keeps the captions whole in the designed 73 pixels.
        box->setStyleSheet("QCheckBox { spacing: 2px; }");
    }

    auto* demos = new QListWidget(this);
    demos->setObjectName("clbDemos");
    demos->setGeometry(172, 196, 237, 169);

    auto* statusBar = new QStatusBar(this);
    statusBar->setObjectName("statusBar");
    statusBar->setGeometry(0, 429, 420, 19);
    statusBar->setSizeGripEnabled(false);
    auto* status = new QLabel(statusBar);
    status->setObjectName("status");
    statusBar->addWidget(status, 1);
}

void MainWindow::BindControls() {
    MainControls& c = form_->Controls;

    auto bindButton = [this](TButton& control, void (TfrmMain::*handler)()) {
        auto* w = findChild<QPushButton*>(Q(control.Name));
        control.Changed = [&control, w] { BindEnabled(control, w); };
        control.Changed();
        if (handler)
            connect(w, &QPushButton::clicked, this, [this, handler] { Run(handler); });
    };
    bindButton(c.btnBasePathSet, &TfrmMain::btnBasePathSetClick);
    bindButton(c.btnOutPathSet, &TfrmMain::btnOutPathSetClick);
    bindButton(c.btnRunMod, &TfrmMain::btnRunModClick);
    bindButton(c.btnOpenModDir, &TfrmMain::btnOpenModDirClick);
    bindButton(c.btnEditConfig, &TfrmMain::btnEditConfigClick);
    bindButton(c.btnOpenConfigDir, &TfrmMain::btnOpenConfigDirClick);
    bindButton(c.Button1, &TfrmMain::Button1Click);
    bindButton(c.btnOpenDemosDir, &TfrmMain::btnOpenDemosDirClick);
    bindButton(c.btnStart, &TfrmMain::btnStartClick);
    bindButton(c.btnCodec, &TfrmMain::btnCodecClick);
    bindButton(c.btnAbout, &TfrmMain::btnAboutClick);
    bindButton(c.btnHelp, &TfrmMain::btnHelpClick);
    bindButton(c.btnQuit, &TfrmMain::btnQuitClick);

    auto bindEdit = [this](TEdit& control) {
        auto* w = findChild<QLineEdit*>(Q(control.Name));
        control.Changed = [&control, w] {
            BindEnabled(control, w);
            QSignalBlocker block(w);
            if (S(w->text()) != control.Text())
                w->setText(Q(control.Text()));
            if (control.SelLength() > 0)
                w->setSelection(control.SelStart(), control.SelLength());
        };
        control.Changed();
        connect(w, &QLineEdit::textEdited, this, [this, &control](const QString& text) {
            form_->Guard([&] { control.SetText(S(text)); });
        });
    };
    for (TEdit* e :
         {&c.edBasePath, &c.edOutPath, &c.edAviFps, &c.edFps, &c.edTimeScale, &c.edDemoName})
        bindEdit(*e);

    auto bindCombo = [this](TComboBox& control) {
        auto* w = findChild<QComboBox*>(Q(control.Name));
        control.Changed = [&control, w] {
            BindEnabled(control, w);
            QSignalBlocker block(w);
            bool same = w->count() == static_cast<int>(control.Items().size());
            for (int i = 0; same && i < w->count(); ++i)
                same = S(w->itemText(i)) == control.Items()[i];
            if (!same) {
                w->clear();
                for (const std::string& item : control.Items())
                    w->addItem(Q(item));
            }
            w->setCurrentIndex(control.ItemIndex());
        };
        control.Changed();
        connect(w, &QComboBox::activated, this,
                [this, &control](int index) { form_->Guard([&] { control.UserSelect(index); }); });
    };
    for (TComboBox* cb : {&c.cbMods, &c.cbConfigs, &c.cbModes, &c.cbGammas})
        bindCombo(*cb);

    auto bindCheck = [this](TCheckBox& control) {
        auto* w = findChild<QCheckBox*>(Q(control.Name));
        control.Changed = [&control, w] {
            BindEnabled(control, w);
            QSignalBlocker block(w);
            w->setChecked(control.Checked());
        };
        control.Changed();
        connect(w, &QCheckBox::clicked, this, [this, &control](bool checked) {
            form_->Guard([&] { control.SetChecked(checked); });
        });
    };
    for (TCheckBox* cb : {&c.cbWindowed, &c.cbDraw2D, &c.cbRealtime, &c.cbDrawGun})
        bindCheck(*cb);

    auto* demos = findChild<QListWidget*>("clbDemos");
    c.clbDemos.Changed = [&c, demos] {
        TCheckListBox& list = c.clbDemos;
        QSignalBlocker block(demos);
        BindEnabled(list, demos);
        bool same = demos->count() == list.Count();
        for (int i = 0; same && i < list.Count(); ++i)
            same = S(demos->item(i)->text()) == list.ItemText(i);
        if (!same) {
            demos->clear();
            for (const auto& item : list.Items()) {
                auto* it = new QListWidgetItem(Q(item.text), demos);
                it->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
            }
        }
        for (int i = 0; i < list.Count(); ++i)
            demos->item(i)->setCheckState(list.Checked(i) ? Qt::Checked : Qt::Unchecked);
        demos->setCurrentRow(list.ItemIndex());
        QPalette pal = demos->palette();
        pal.setColor(QPalette::Base, list.Color() == TColor::clWindow
                                         ? QApplication::palette().color(QPalette::Base)
                                         : QApplication::palette().color(QPalette::Button));
        demos->setPalette(pal);
    };
    c.clbDemos.Changed();
    connect(demos, &QListWidget::itemChanged, this, [this, demos, &c](QListWidgetItem* item) {
        int row = demos->row(item);
        form_->Guard([&] { c.clbDemos.SetChecked(row, item->checkState() == Qt::Checked); });
    });
    connect(demos, &QListWidget::currentRowChanged, this,
            [this, &c](int row) { form_->Guard([&] { c.clbDemos.UserClick(row); }); });

    auto* status = findChild<QLabel*>("status");
    c.status.Changed = [&c, status] { status->setText(Q(c.status.SimpleText())); };
    c.status.Changed();

    c.frmMain.Changed = [this, &c] { setEnabled(c.frmMain.Enabled()); };
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    // The banners and the logo answer the left button only. A click acts on its release
    // inside the control it was pressed on; a double click acts once (the logo installs the
    // codec, a banner takes it as the one click its first press made).
    const bool banner = watched == imgPpBanner_ || watched == imgAppBanner_;
    if (banner || watched == label11_) {
        const QEvent::Type type = event->type();
        if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonRelease &&
            type != QEvent::MouseButtonDblClick)
            return QWidget::eventFilter(watched, event);
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton)
            return true;
        if (type == QEvent::MouseButtonDblClick) {
            pressed_ = nullptr;
            if (watched == label11_)
                Run(&TfrmMain::Label11DblClick);
        } else if (type == QEvent::MouseButtonPress) {
            // A single click on the logo square does nothing.
            pressed_ = banner ? watched : nullptr;
        } else if (pressed_ == watched) {
            pressed_ = nullptr;
            if (static_cast<QWidget*>(watched)->rect().contains(mouse->position().toPoint()))
                Run(watched == imgPpBanner_ ? &TfrmMain::imgPpBannerClick
                                            : &TfrmMain::imgAppBannerClick);
        }
        return true;
    }
    if (watched == edDemoName_ && event->type() == QEvent::MouseButtonPress) {
        bool handled = QWidget::eventFilter(watched, event);
        // Let the field take the press first, then select the whole name.
        QTimer::singleShot(0, this, [this] { Run(&TfrmMain::edDemoNameMouseDown); });
        return handled;
    }
    return QWidget::eventFilter(watched, event);
}

void MainWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!event->spontaneous())
        QTimer::singleShot(0, this, [this] { Run(&TfrmMain::FormShow); });
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // A recording run keeps the window disabled; it cannot be closed under the run's feet,
    // but the user is asked whether to stop the run.
    bool close = true;
    form_->Guard([&] { close = form_->FormCloseQuery(); });
    if (!close) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

} // namespace vexo
