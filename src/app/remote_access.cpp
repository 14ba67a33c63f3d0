// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/remote_access.h"

#include "app/editor.h"
#include "app/main_view.h"
#include "app/remote_access_host.h"
#include "params/param_names.h"
#include "remote/server.h"
#include "ui/fonts.h"
#include "ui/language.h"
#include "ui/style.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkInterface>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QSettings>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>
#include <qrencode.h>

namespace q7 {

namespace {

const char* const kOnKey = "RemoteAccess/on";
const char* const kConfigKey = "RemoteAccess/config";

// "ADDR:PORT" split at the last colon; IPv6 addresses come in brackets.
bool splitListen(const std::string& listen, QString& address, int& port) {
    const QString s = QString::fromStdString(listen);
    const int colon = s.lastIndexOf(':');
    if (colon <= 0)
        return false;
    bool ok = false;
    port = s.mid(colon + 1).toInt(&ok);
    address = s.left(colon);
    if (address.startsWith('[') && address.endsWith(']'))
        address = address.mid(1, address.size() - 2);
    return ok && port > 0 && port < 65536;
}

bool isLoopback(const QString& address) {
    return address == "127.0.0.1" || address == "localhost" || address == "::1";
}

} // namespace

// ---- the service ----

RemoteAccessService& RemoteAccessService::of(Editor& editor) {
    if (auto* s = editor.findChild<RemoteAccessService*>(QString(), Qt::FindDirectChildrenOnly))
        return *s;
    return *new RemoteAccessService(editor);
}

RemoteAccessService::RemoteAccessService(Editor& editor)
    : QObject(&editor), editor_(editor), host_(std::make_unique<EditorRemoteHost>(editor)),
      server_(std::make_unique<RemoteServer>(*host_, editor.clock())) {
    QFileInfo file(configPath());
    if (file.exists()) {
        std::string error;
        if (auto c = RemoteConfig::load(configPath().toStdString(), error))
            config_ = *c;
        else
            note(editor_.language().pick("远程访问设置文件无法读取，已使用默认设置：",
                                         "The remote access settings could not be read; the "
                                         "defaults are used: ") +
                 QString::fromStdString(error));
    }
    server_->setConfig(config_);
    connect(server_.get(), &RemoteServer::audited, this, &RemoteAccessService::note);
    followView();
}

RemoteAccessService::~RemoteAccessService() {
    server_->close();
}

void RemoteAccessService::followView() {
    CHX2060v13View* view = editor_.view();
    if (!view)
        return;
    // Whatever changed the settings (a page, undo, a synchronisation, a file) and each level
    // poll reach the phones.
    connect(view, &CHX2060v13View::settingsMayHaveChanged, this, [this] {
        if (server_->isListening())
            server_->settingsChanged();
    });
    connect(view, &CHX2060v13View::levelsPolled, this, [this] {
        if (server_->isListening())
            server_->levelsChanged();
    });
    // The window goes first as the editor closes: nothing may call into it after.
    connect(view, &QObject::destroyed, this, [this] { server_->close(); });
}

QString RemoteAccessService::configPath() const {
    const QString set = editor_.profile().value(kConfigKey).toString();
    if (!set.isEmpty())
        return set;
    return QFileInfo(editor_.profile().fileName()).dir().filePath("remote-access.json");
}

bool RemoteAccessService::setConfig(const RemoteConfig& config, QString* error) {
    const Language& l = editor_.language();
    const std::string problem = config.problem();
    if (!problem.empty()) {
        if (error)
            *error = QString::fromStdString(problem);
        return false;
    }
    QDir().mkpath(QFileInfo(configPath()).absolutePath());
    std::string why;
    if (!config.save(configPath().toStdString(), why)) {
        if (error)
            *error = l.pick("无法写入 %1：", "Could not write %1: ").arg(configPath()) +
                     QString::fromStdString(why);
        return false;
    }
    const bool moved = running() && config.listen != config_.listen;
    config_ = config;
    server_->setConfig(config_);
    if (moved) {
        server_->close();
        return start(error);
    }
    return true;
}

bool RemoteAccessService::start(QString* error) {
    if (server_->isListening())
        server_->close();
    QString why;
    if (!server_->listen(QString::fromStdString(config_.listen), &why)) {
        if (error)
            *error = editor_.language()
                         .pick("无法在 %1 上监听：", "Cannot listen on %1: ")
                         .arg(QString::fromStdString(config_.listen)) +
                     why;
        emit runningChanged(false);
        return false;
    }
    editor_.setSetting(kOnKey, true);
    note(editor_.language().pick("远程访问已开启：", "Remote access on: ") + pageAddress());
    server_->settingsChanged();
    emit runningChanged(true);
    return true;
}

void RemoteAccessService::stop() {
    const bool was = server_->isListening();
    server_->close();
    editor_.setSetting(kOnKey, false);
    if (was) {
        note(editor_.language().pick("远程访问已关闭", "Remote access off"));
        emit runningChanged(false);
    }
}

bool RemoteAccessService::running() const {
    return server_->isListening();
}

QString RemoteAccessService::pageAddress() const {
    return server_->isListening() ? server_->pageAddress() : QString();
}

void RemoteAccessService::restore() {
    if (!editor_.options().screenshots.isEmpty() || !editor_.profile().value(kOnKey).toBool())
        return;
    QString error;
    if (!start(&error))
        note(error);
}

void RemoteAccessService::note(const QString& line) {
    const QString stamped =
        line.startsWith(QChar('2')) && line.contains(' ')
            ? line // the server's lines carry their time
            : QDateTime::currentDateTimeUtc().toString(Qt::ISODate) + " " + line;
    log_.push_back(stamped);
    while (log_.size() > kRemoteLogLines)
        log_.pop_front();
    emit logged(stamped);
}

// ---- the QR code ----

QImage qrCodeImage(const QString& text, int scale) {
    const QByteArray utf8 = text.toUtf8();
    QRcode* code = QRcode_encodeString(utf8.constData(), 0, QR_ECLEVEL_M, QR_MODE_8, 1);
    if (!code)
        return {};
    constexpr int kQuiet = 4; // modules of white a reader needs around the code
    const int modules = code->width + 2 * kQuiet;
    QImage image(modules * scale, modules * scale, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    for (int y = 0; y < code->width; ++y)
        for (int x = 0; x < code->width; ++x)
            if (code->data[y * code->width + x] & 1)
                p.fillRect((x + kQuiet) * scale, (y + kQuiet) * scale, scale, scale, Qt::black);
    p.end();
    QRcode_free(code);
    return image;
}

// ---- the dialog ----

const std::vector<std::string>& remoteGuestChoices() {
    static const std::vector<std::string> choices = {
        "mic.volume", "effect.volume", "echo.volume", "reverb.volume", "music.volume", "mic.mute",
        "echo.mute",  "reverb.mute",   "music.mute",  "music.pitch",   "music.gate"};
    return choices;
}

namespace {

enum GuestColumn { AllowedColumn, MinColumn, MaxColumn };

bool sameConfig(const RemoteConfig& a, const RemoteConfig& b) {
    // The whitelist's order means nothing.
    auto sorted = [](std::vector<RemoteGuestParam> g) {
        std::sort(g.begin(), g.end(),
                  [](const auto& x, const auto& y) { return x.param < y.param; });
        return g;
    };
    auto same = [](const RemoteGuestParam& x, const RemoteGuestParam& y) {
        return x.param == y.param && x.min == y.min && x.max == y.max;
    };
    const auto ga = sorted(a.guest), gb = sorted(b.guest);
    return a.listen == b.listen && a.ownerPin == b.ownerPin && a.guestPin == b.guestPin &&
           a.guestOpen == b.guestOpen && a.guestModes == b.guestModes &&
           std::equal(ga.begin(), ga.end(), gb.begin(), gb.end(), same);
}

bool isSwitch(const ParamInfo& p) {
    return p.kind != ValueKind::Number && p.kind != ValueKind::Ratio;
}

} // namespace

RemoteAccessDialog* openRemoteAccess(Editor& editor, QWidget* parent) {
    if (parent)
        if (auto* open = parent->findChild<RemoteAccessDialog*>("RemoteAccessDialog",
                                                                Qt::FindDirectChildrenOnly)) {
            open->show();
            open->raise();
            open->activateWindow();
            return open;
        }
    auto* dlg = new RemoteAccessDialog(editor, parent);
    dlg->setAttribute(Qt::WA_DeleteOnClose);
    dlg->show();
    return dlg;
}

RemoteAccessDialog::RemoteAccessDialog(Editor& editor, QWidget* parent)
    : QDialog(parent), editor_(editor), service_(RemoteAccessService::of(editor)) {
    setObjectName("RemoteAccessDialog");
    setPageBackground(this);
    auto named = [](QWidget* w, const char* name) {
        w->setObjectName(name);
        return w;
    };
    auto caption = [this] {
        auto* l = new QLabel(this);
        QFont f = l->font();
        f.setBold(true);
        l->setFont(f);
        return l;
    };

    on_ = static_cast<QCheckBox*>(named(new QCheckBox(this), "on"));
    status_ = static_cast<QLabel*>(named(new QLabel(this), "status"));
    status_->setWordWrap(true);

    whereCaption_ = caption();
    loopback_ = static_cast<QRadioButton*>(named(new QRadioButton(this), "loopback"));
    lan_ = static_cast<QRadioButton*>(named(new QRadioButton(this), "lan"));
    address_ = static_cast<QComboBox*>(named(new QComboBox(this), "address"));
    portLabel_ = new QLabel(this);
    port_ = static_cast<QSpinBox*>(named(new QSpinBox(this), "port"));
    port_->setRange(1024, 65535);
    port_->setValue(kRemoteDefaultPort);

    whoCaption_ = caption();
    ownerLabel_ = new QLabel(this);
    ownerPin_ = static_cast<QLineEdit*>(named(new QLineEdit(this), "ownerPin"));
    ownerHint_ = new QLabel(this);
    ownerHint_->setWordWrap(true);
    guestPinOn_ = static_cast<QRadioButton*>(named(new QRadioButton(this), "guestPinOn"));
    guestPin_ = static_cast<QLineEdit*>(named(new QLineEdit(this), "guestPin"));
    guestOpen_ = static_cast<QRadioButton*>(named(new QRadioButton(this), "guestOpen"));
    // Two choices, each its own pair (radio buttons of one parent would otherwise be one).
    for (auto [a, b] : {std::pair{loopback_, lan_}, std::pair{guestPinOn_, guestOpen_}}) {
        auto* group = new QButtonGroup(this);
        group->addButton(a);
        group->addButton(b);
    }
    // PINs are digits a phone's keypad types.
    auto* digits = new QRegularExpressionValidator(QRegularExpression("[0-9]{0,12}"), this);
    for (QLineEdit* e : {ownerPin_, guestPin_}) {
        e->setValidator(digits);
        e->setEchoMode(QLineEdit::PasswordEchoOnEdit);
        e->setMaximumWidth(140);
    }

    guestsCaption_ = caption();
    guests_ = static_cast<QTableWidget*>(named(new QTableWidget(this), "guests"));
    guests_->setColumnCount(3);
    guests_->verticalHeader()->hide();
    // Every row as tall as a spin box, switches' rows too.
    guests_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    guests_->verticalHeader()->setDefaultSectionSize(QDoubleSpinBox().sizeHint().height());
    guests_->setSelectionMode(QAbstractItemView::NoSelection);
    guests_->horizontalHeader()->setSectionResizeMode(AllowedColumn, QHeaderView::Stretch);
    guestModes_ = static_cast<QCheckBox*>(named(new QCheckBox(this), "guestModes"));

    pageCaption_ = caption();
    page_ = static_cast<QLabel*>(named(new QLabel(this), "pageAddress"));
    page_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    page_->setFont(uiFont("Arial", 15, true));
    qr_ = static_cast<QLabel*>(named(new QLabel(this), "qr"));
    qr_->setFixedSize(200, 200);
    qr_->setAlignment(Qt::AlignCenter);
    logCaption_ = caption();
    log_ = static_cast<QPlainTextEdit*>(named(new QPlainTextEdit(this), "log"));
    log_->setReadOnly(true);
    log_->setMaximumBlockCount(kRemoteLogLines);
    log_->setPlainText(service_.log().join('\n'));

    apply_ = static_cast<QPushButton*>(named(new QPushButton(this), "apply"));
    close_ = new QPushButton(this);

    // Left: what the owner sets. Right: what a phone opens, and who did what.
    auto* form = new QGridLayout;
    int row = 0;
    form->addWidget(on_, row++, 0, 1, 3);
    form->addWidget(status_, row++, 0, 1, 3);
    form->addWidget(whereCaption_, row++, 0, 1, 3);
    form->addWidget(loopback_, row++, 0, 1, 3);
    auto* lanRow = new QHBoxLayout;
    lanRow->addWidget(lan_);
    lanRow->addWidget(address_, 1);
    lanRow->addWidget(portLabel_);
    lanRow->addWidget(port_);
    form->addLayout(lanRow, row++, 0, 1, 3);
    form->addWidget(whoCaption_, row++, 0, 1, 3);
    form->addWidget(ownerLabel_, row, 0);
    form->addWidget(ownerPin_, row, 1);
    form->addWidget(ownerHint_, row++, 2);
    form->addWidget(guestPinOn_, row, 0);
    form->addWidget(guestPin_, row++, 1);
    form->addWidget(guestOpen_, row++, 0, 1, 3);
    form->addWidget(guestsCaption_, row++, 0, 1, 3);
    form->addWidget(guests_, row++, 0, 1, 3);
    form->addWidget(guestModes_, row++, 0, 1, 3);
    form->setColumnStretch(2, 1);

    auto* side = new QVBoxLayout;
    side->addWidget(pageCaption_);
    side->addWidget(page_);
    side->addWidget(qr_, 0, Qt::AlignHCenter);
    side->addWidget(logCaption_);
    side->addWidget(log_, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(apply_);
    buttons->addWidget(close_);

    auto* columns = new QHBoxLayout;
    columns->addLayout(form, 3);
    columns->addSpacing(12);
    columns->addLayout(side, 2);
    auto* top = new QVBoxLayout(this);
    top->addLayout(columns, 1);
    top->addLayout(buttons);

    fill(service_.config());

    connect(on_, &QCheckBox::clicked, this, &RemoteAccessDialog::toggled);
    connect(apply_, &QPushButton::clicked, this, [this] { applyForm(); });
    connect(close_, &QPushButton::clicked, this, &QDialog::close);
    for (QRadioButton* b : {loopback_, lan_, guestPinOn_, guestOpen_})
        connect(b, &QRadioButton::toggled, this, &RemoteAccessDialog::formChanged);
    for (QLineEdit* e : {ownerPin_, guestPin_})
        connect(e, &QLineEdit::textEdited, this, &RemoteAccessDialog::formChanged);
    connect(address_, &QComboBox::currentIndexChanged, this, &RemoteAccessDialog::formChanged);
    connect(port_, &QSpinBox::valueChanged, this, &RemoteAccessDialog::formChanged);
    connect(guestModes_, &QCheckBox::toggled, this, &RemoteAccessDialog::formChanged);
    connect(guests_, &QTableWidget::itemChanged, this, &RemoteAccessDialog::formChanged);
    connect(&service_, &RemoteAccessService::runningChanged, this, &RemoteAccessDialog::showState);
    connect(&service_, &RemoteAccessService::logged, log_, &QPlainTextEdit::appendPlainText);
    connect(&editor_.language(), &Language::changed, this, &RemoteAccessDialog::applyLanguage);
    applyLanguage();
    guests_->setMinimumHeight(guests_->horizontalHeader()->sizeHint().height() +
                              guests_->rowCount() *
                                  guests_->verticalHeader()->defaultSectionSize() +
                              2 * guests_->frameWidth());
    resize(920, sizeHint().height());
}

void RemoteAccessDialog::fillAddresses(const QString& chosen) {
    address_->clear();
    address_->addItem(QString(), "0.0.0.0"); // every address; named in applyLanguage
    for (const QHostAddress& a : QNetworkInterface::allAddresses())
        if (a.protocol() == QAbstractSocket::IPv4Protocol && !a.isLoopback())
            address_->addItem(a.toString(), a.toString());
    int at = address_->findData(chosen);
    if (at < 0 && !chosen.isEmpty() && !isLoopback(chosen)) {
        // An address the machine no longer has is kept, so the owner sees what was set.
        address_->addItem(chosen, chosen);
        at = address_->count() - 1;
    }
    address_->setCurrentIndex(std::max(0, at));
}

void RemoteAccessDialog::fill(const RemoteConfig& c) {
    const QSignalBlocker block(guests_);
    QString address;
    int port = kRemoteDefaultPort;
    if (!splitListen(c.listen, address, port))
        address = "127.0.0.1";
    (isLoopback(address) ? loopback_ : lan_)->setChecked(true);
    fillAddresses(address);
    port_->setValue(port);
    ownerPin_->setText(QString::fromStdString(c.ownerPin));
    guestPin_->setText(QString::fromStdString(c.guestPin));
    (c.guestOpen ? guestOpen_ : guestPinOn_)->setChecked(true);
    guestModes_->setChecked(c.guestModes);

    std::vector<std::string> rows = remoteGuestChoices();
    for (const RemoteGuestParam& g : c.guest)
        if (std::find(rows.begin(), rows.end(), g.param) == rows.end())
            rows.push_back(g.param); // set elsewhere (a file written by hand): kept and shown
    guests_->setRowCount(0);
    for (const std::string& id : rows) {
        const ParamInfo* p = findParam(id);
        if (!p)
            continue;
        const auto entry = std::find_if(c.guest.begin(), c.guest.end(),
                                        [&](const RemoteGuestParam& g) { return g.param == id; });
        const int r = guests_->rowCount();
        guests_->insertRow(r);
        auto* item = new QTableWidgetItem;
        item->setData(Qt::UserRole, QString::fromStdString(id));
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setCheckState(entry != c.guest.end() ? Qt::Checked : Qt::Unchecked);
        guests_->setItem(r, AllowedColumn, item);
        if (isSwitch(*p) || !p->hasRange) {
            // A switch is on or off: no limits to set.
            for (int column : {MinColumn, MaxColumn}) {
                auto* none = new QTableWidgetItem(QString::fromUtf8("—"));
                none->setFlags(Qt::ItemIsEnabled);
                none->setTextAlignment(Qt::AlignCenter);
                guests_->setItem(r, column, none);
            }
            continue;
        }
        for (int column : {MinColumn, MaxColumn}) {
            auto* spin = new QDoubleSpinBox(guests_);
            spin->setObjectName(column == MinColumn ? "min" : "max");
            spin->setDecimals(p->decimals);
            spin->setRange(p->min, p->max);
            spin->setValue(column == MinColumn ? p->min : p->max);
            if (entry != c.guest.end()) {
                const auto& limit = column == MinColumn ? entry->min : entry->max;
                if (limit)
                    spin->setValue(*limit);
            }
            connect(spin, &QDoubleSpinBox::valueChanged, this, &RemoteAccessDialog::formChanged);
            guests_->setCellWidget(r, column, spin);
        }
    }
    problem_.clear();
}

RemoteConfig RemoteAccessDialog::formConfig(QString* problem) const {
    const Language& l = editor_.language();
    RemoteConfig c = service_.config();
    const QString address =
        loopback_->isChecked() ? "127.0.0.1" : address_->currentData().toString();
    c.listen = QString("%1:%2").arg(address).arg(port_->value()).toStdString();
    c.ownerPin = ownerPin_->text().toStdString();
    c.guestOpen = guestOpen_->isChecked();
    c.guestPin = guestPin_->text().toStdString();
    c.guestModes = guestModes_->isChecked();
    c.guest.clear();
    QString why;
    for (int r = 0; r < guests_->rowCount(); ++r) {
        const QTableWidgetItem* item = guests_->item(r, AllowedColumn);
        if (!item || item->checkState() != Qt::Checked)
            continue;
        const std::string id = item->data(Qt::UserRole).toString().toStdString();
        const ParamInfo* p = findParam(id);
        RemoteGuestParam g{id, std::nullopt, std::nullopt};
        auto* lo = qobject_cast<QDoubleSpinBox*>(guests_->cellWidget(r, MinColumn));
        auto* hi = qobject_cast<QDoubleSpinBox*>(guests_->cellWidget(r, MaxColumn));
        if (p && lo && hi) {
            // A limit at the parameter's own end is no limit.
            if (lo->value() > p->min)
                g.min = lo->value();
            if (hi->value() < p->max)
                g.max = hi->value();
            if (lo->value() > hi->value() && why.isEmpty())
                why = l.pick("%1：最小值大于最大值", "%1: the least value is above the greatest")
                          .arg(QString::fromStdString(paramName(*p, l.english())));
        }
        c.guest.push_back(std::move(g));
    }
    const auto shortPin = [](const std::string& pin) { return !pin.empty() && pin.size() < 4; };
    if (why.isEmpty() && (shortPin(c.ownerPin) || (!c.guestOpen && shortPin(c.guestPin))))
        why = l.pick("PIN 至少 4 位数字", "A PIN has at least 4 digits");
    if (why.isEmpty() && !c.ownerPin.empty() && !c.guestOpen && c.ownerPin == c.guestPin)
        why = l.pick("管理员和访客的 PIN 不能相同", "The owner's and the guests' PINs must differ");
    if (problem)
        *problem = why;
    return c;
}

void RemoteAccessDialog::formChanged() {
    problem_.clear();
    address_->setEnabled(lan_->isChecked());
    guestPin_->setEnabled(guestPinOn_->isChecked());
    showState();
}

bool RemoteAccessDialog::applyForm() {
    QString problem;
    const RemoteConfig c = formConfig(&problem);
    if (problem.isEmpty())
        service_.setConfig(c, &problem);
    problem_ = problem;
    showState();
    return problem.isEmpty();
}

void RemoteAccessDialog::toggled(bool on) {
    if (!on) {
        service_.stop();
        showState();
        return;
    }
    QString problem;
    if (applyForm() && !service_.start(&problem)) {
        problem_ = problem;
    }
    showState();
}

void RemoteAccessDialog::showState() {
    const Language& l = editor_.language();
    const bool running = service_.running();
    on_->setChecked(running);
    QString text;
    QString colour = "#1f3b5a";
    if (!problem_.isEmpty()) {
        text = problem_;
        colour = "#c00000";
    } else if (running) {
        text = loopback_->isChecked()
                   ? l.pick("开启：只有这台电脑能打开。", "On: only this computer can connect.")
                   : l.pick("开启：局域网内的手机和电脑能打开。",
                            "On: phones and computers on the local network can connect.");
    } else {
        text = l.pick("关闭：没有手机或脚本能连接。", "Off: no phone or script can connect.");
    }
    status_->setText(text);
    status_->setStyleSheet(QString("color: %1;").arg(colour));
    const QString address = service_.pageAddress();
    page_->setText(running ? address : l.pick("（未开启）", "(off)"));
    if (running) {
        const QImage code = qrCodeImage(address, 4);
        qr_->setPixmap(code.isNull()
                           ? QPixmap()
                           : QPixmap::fromImage(code.scaled(qr_->size(), Qt::KeepAspectRatio,
                                                            Qt::FastTransformation)));
    } else {
        qr_->setPixmap(QPixmap());
        qr_->setText(l.pick("开启后在此显示二维码", "The QR code shows here when on"));
    }
    qr_->setWordWrap(true);
    address_->setEnabled(lan_->isChecked());
    guestPin_->setEnabled(guestPinOn_->isChecked());
    // Apply is live while the form says something the file does not.
    QString ignored;
    apply_->setEnabled(!sameConfig(formConfig(&ignored), service_.config()));
}

void RemoteAccessDialog::applyLanguage() {
    const Language& l = editor_.language();
    setWindowTitle(l.pick("远程访问", "Remote access"));
    on_->setText(l.pick("开启远程访问（手机遥控与本地 API）",
                        "Remote access on (phone remote and local API)"));
    whereCaption_->setText(l.pick("从哪里连接", "Who can connect from where"));
    loopback_->setText(l.pick("只有这台电脑 (127.0.0.1)", "This computer only (127.0.0.1)"));
    lan_->setText(l.pick("局域网：", "Local network:"));
    address_->setItemText(0, l.pick("所有地址 (0.0.0.0)", "All addresses (0.0.0.0)"));
    portLabel_->setText(l.pick("端口", "Port"));
    whoCaption_->setText(l.pick("登录", "Logging in"));
    ownerLabel_->setText(l.pick("管理员 PIN", "Owner PIN"));
    ownerHint_->setText(l.pick("可调所有参数；留空则不能以管理员登录",
                               "Changes everything; empty: no owner login"));
    guestPinOn_->setText(l.pick("访客 PIN", "Guest PIN"));
    guestOpen_->setText(l.pick("访客无需 PIN（开放访问）", "Guests need no PIN (open access)"));
    guestsCaption_->setText(l.pick("访客可调的参数和范围", "What guests may change, and how far"));
    guests_->setHorizontalHeaderLabels(
        {l.pick("参数", "Parameter"), l.pick("最小", "Least"), l.pick("最大", "Greatest")});
    for (int r = 0; r < guests_->rowCount(); ++r)
        if (QTableWidgetItem* item = guests_->item(r, AllowedColumn))
            if (const ParamInfo* p = findParam(item->data(Qt::UserRole).toString().toStdString()))
                item->setText(QString::fromStdString(paramName(*p, l.english())));
    guestModes_->setText(l.pick("访客可调用四个用户模式", "Guests may recall the four user modes"));
    pageCaption_->setText(l.pick("手机打开此地址", "Open this address on a phone"));
    logCaption_->setText(l.pick("谁改了什么", "Who changed what"));
    apply_->setText(l.pick("应用", "Apply"));
    close_->setText(l.pick("关闭", "Close"));
    showState();
}

int renderRemoteAccessScreens(Editor& editor, QWidget* parent, const QString& dir,
                              const char* suffix) {
    int failures = 0;
    auto save = [&](QWidget* w, const char* name) {
        QApplication::processEvents();
        if (!w->grab().save(QDir(dir).filePath(QString("%1.%2.png").arg(name, suffix))))
            ++failures;
    };
    RemoteAccessService& service = RemoteAccessService::of(editor);
    const RemoteConfig kept = service.config();
    service.clearLog(); // the same screens in either language, whatever ran before
    RemoteAccessDialog dialog(editor, parent);
    dialog.show();
    save(&dialog, "remote-access");

    RemoteConfig c = kept;
    c.listen = "127.0.0.1:" + std::to_string(kRemoteDefaultPort);
    c.ownerPin = "2468";
    c.guestPin = "1357";
    c.guestOpen = false;
    QString error;
    service.setConfig(c, &error);
    if (!service.start(&error)) { // the usual port is taken: any other
        c.listen = "127.0.0.1:0";
        service.setConfig(c, &error);
        service.start(&error);
    }
    // As the server writes them.
    service.note("guest 127.0.0.1: logged in");
    service.note("guest 127.0.0.1: mic.volume 40 → 55");
    service.note("owner 127.0.0.1: music.volume 30 → 45");
    RemoteAccessDialog on(editor, parent);
    on.show();
    save(&on, "remote-access-on");
    service.stop();
    service.setConfig(kept, &error);
    return failures;
}

} // namespace q7
