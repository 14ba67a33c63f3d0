// SPDX-License-Identifier: GPL-3.0-or-later
// Remote access in the editor: the dialog driven as the owner drives it, a phone's edit over a
// real loopback connection becoming one undo step shown at once, and the editor's own edits
// reaching a WebSocket client.
#include "app/editor_rig.h"
#include "app/real_input.h"
#include "app/remote_access.h"
#include "app/remote_access_host.h"
#include "params/param_names.h"
#include "remote/server.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStyleOptionViewItem>
#include <QTableWidget>
#include <QTcpServer>
#include <QWebSocket>
#include <sys/stat.h>

namespace q7::test {
namespace {

// Network replies come on real time; this waits for the condition, not for a time.
constexpr int kNetworkGuardMs = 20000;

int freePort() {
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
}

struct RemoteRig : EditorRig {
    using EditorRig::EditorRig;

    RemoteAccessDialog* openDialog() {
        clickRibbon(cmd::RemoteAccess);
        return frame().findChild<RemoteAccessDialog*>("RemoteAccessDialog");
    }
    template <class W> static W* in(QWidget* dialog, const char* name) {
        W* w = dialog->findChild<W*>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    // Replaces a line edit's or spin box's text by typing, as a person selects it and types.
    static void type(QWidget* field, const QString& text) {
        QTest::mouseClick(field, Qt::LeftButton, Qt::NoModifier, field->rect().center());
        QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(field, text);
        QTest::keyClick(field, Qt::Key_Tab);
    }
    // Clicks the check box of a whitelist row.
    static void clickRowCheck(QTableWidget* table, const QString& label) {
        const auto found = table->findItems(label, Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1) << label.toStdString();
        QStyleOptionViewItem option;
        option.initFrom(table->viewport());
        option.rect = table->visualItemRect(found[0]);
        option.features =
            QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay;
        const QRect box = table->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator,
                                                         &option, table->viewport());
        QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, box.center());
    }

    // Turns remote access on from the dialog: loopback, the owner PIN, the port typed.
    RemoteAccessDialog* turnOn(int port, const QString& ownerPin = "2468") {
        RemoteAccessDialog* d = openDialog();
        if (!d)
            return nullptr;
        type(in<QSpinBox>(d, "port"), QString::number(port));
        type(in<QLineEdit>(d, "ownerPin"), ownerPin);
        click(in<QCheckBox>(d, "on"));
        return d;
    }

    QNetworkAccessManager net;
    QString token;

    QNetworkReply* send(const QByteArray& verb, const QString& path, const QJsonObject& body) {
        QNetworkRequest r(QUrl(QString("http://127.0.0.1:%1%2").arg(port()).arg(path)));
        r.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
        if (!token.isEmpty())
            r.setRawHeader("Authorization", "Bearer " + token.toUtf8());
        QNetworkReply* reply =
            net.sendCustomRequest(r, verb, QJsonDocument(body).toJson(QJsonDocument::Compact));
        EXPECT_TRUE(QTest::qWaitFor([reply] { return reply->isFinished(); }, kNetworkGuardMs));
        return reply;
    }
    int status(QNetworkReply* r) {
        return r->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    }
    bool login(const QString& pin) {
        std::unique_ptr<QNetworkReply> r(send("POST", "/api/v1/login", {{"pin", pin}}));
        token = QJsonDocument::fromJson(r->readAll()).object().value("token").toString();
        return status(r.get()) == 200 && !token.isEmpty();
    }
    int port() { return RemoteAccessService::of(*editor).server().port(); }
    // Ctrl+Z in the main window, as the user undoes.
    void undoKey() {
        frame().activateWindow();
        QTest::keyClick(&ribbon(), Qt::Key_Z, Qt::ControlModifier);
    }
    double cellValue(const char* id) {
        const ParamInfo* p = findParam(id);
        return userValue(*p, settingsOf(editor->store()));
    }
};

TEST(RemoteAccess, TheDialogIsOffByDefaultAndWritesWhatTheOwnerSetsToAPrivateFile) {
    RemoteRig rig;
    ASSERT_TRUE(rig.connect());
    rig.editor->setLanguageIndex(kEnglish);
    RemoteAccessDialog* d = rig.openDialog();
    ASSERT_NE(d, nullptr);
    RemoteAccessService& service = RemoteAccessService::of(*rig.editor);
    EXPECT_FALSE(service.running());
    EXPECT_FALSE(rig.in<QCheckBox>(d, "on")->isChecked());
    EXPECT_TRUE(rig.in<QRadioButton>(d, "loopback")->isChecked());
    EXPECT_FALSE(rig.in<QComboBox>(d, "address")->isEnabled());
    EXPECT_TRUE(rig.in<QLabel>(d, "qr")->pixmap().isNull());

    // The LAN on every address, a port, both PINs, music at most 70, no modes for guests,
    // and the effect volume given to guests as well.
    rig.click(rig.in<QRadioButton>(d, "lan"));
    EXPECT_TRUE(rig.in<QComboBox>(d, "address")->isEnabled());
    EXPECT_EQ(rig.in<QComboBox>(d, "address")->currentData().toString(), "0.0.0.0");
    const int port = freePort();
    RemoteRig::type(rig.in<QSpinBox>(d, "port"), QString::number(port));
    RemoteRig::type(rig.in<QLineEdit>(d, "ownerPin"), "2468");
    RemoteRig::type(rig.in<QLineEdit>(d, "guestPin"), "1357");
    auto* table = rig.in<QTableWidget>(d, "guests");
    RemoteRig::clickRowCheck(table, "Effect Vol");
    const int musicRow = table->findItems("Music Vol", Qt::MatchExactly).value(0)->row();
    auto* musicMax = qobject_cast<QDoubleSpinBox*>(table->cellWidget(musicRow, 2));
    ASSERT_NE(musicMax, nullptr);
    RemoteRig::type(musicMax, "70");
    rig.click(rig.in<QCheckBox>(d, "guestModes"));
    // A PIN too short is refused in words, and nothing is written.
    RemoteRig::type(rig.in<QLineEdit>(d, "guestPin"), "13");
    rig.click(rig.in<QPushButton>(d, "apply"));
    EXPECT_TRUE(rig.in<QLabel>(d, "status")->text().contains("4 digits"));
    EXPECT_FALSE(QFile::exists(service.configPath()));
    RemoteRig::type(rig.in<QLineEdit>(d, "guestPin"), "1357");

    rig.click(rig.in<QCheckBox>(d, "on"));
    ASSERT_TRUE(service.running()) << rig.in<QLabel>(d, "status")->text().toStdString();
    EXPECT_EQ(service.server().port(), port);
    EXPECT_TRUE(rig.in<QLabel>(d, "pageAddress")->text().startsWith("http://"));
    EXPECT_TRUE(rig.in<QLabel>(d, "pageAddress")->text().endsWith(QString(":%1/").arg(port)));
    EXPECT_FALSE(rig.in<QLabel>(d, "qr")->pixmap().isNull());

    // The file q7ctl serve --config reads, readable by its owner only.
    struct stat st {};
    ASSERT_EQ(::stat(service.configPath().toLocal8Bit().constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600);
    std::string error;
    const auto c = RemoteConfig::load(service.configPath().toStdString(), error);
    ASSERT_TRUE(c) << error;
    EXPECT_EQ(c->listen, "0.0.0.0:" + std::to_string(port));
    EXPECT_EQ(c->ownerPin, "2468");
    EXPECT_EQ(c->guestPin, "1357");
    EXPECT_FALSE(c->guestOpen);
    EXPECT_FALSE(c->guestModes);
    auto entry = [&](const char* id) -> const RemoteGuestParam* {
        for (const RemoteGuestParam& g : c->guest)
            if (g.param == id)
                return &g;
        return nullptr;
    };
    ASSERT_NE(entry("music.volume"), nullptr);
    EXPECT_EQ(entry("music.volume")->max, 70.0);
    EXPECT_NE(entry("effect.volume"), nullptr);
    EXPECT_NE(entry("mic.volume"), nullptr); // a default kept

    // The dialog follows the language.
    rig.editor->setLanguageIndex(kChinese);
    EXPECT_EQ(d->windowTitle(), QString::fromUtf8("远程访问"));
    EXPECT_EQ(rig.in<QPushButton>(d, "apply")->text(), QString::fromUtf8("应用"));

    // Off again: nothing listens.
    rig.click(rig.in<QCheckBox>(d, "on"));
    EXPECT_FALSE(service.running());
    EXPECT_TRUE(rig.in<QLabel>(d, "qr")->pixmap().isNull());
}

TEST(RemoteAccess, TheEditorRemembersItBetweenRuns) {
    const int port = freePort();
    QString profilePath;
    auto first = std::make_unique<RemoteRig>();
    ASSERT_TRUE(first->connect());
    ASSERT_NE(first->turnOn(port), nullptr);
    ASSERT_TRUE(RemoteAccessService::of(*first->editor).running());
    profilePath = first->profile->fileName();
    first->editor->flushSettings();
    first->editor.reset(); // the editor closes; its folder stays
    QSettings kept(profilePath, QSettings::IniFormat);
    RemoteRig second({}, [&](EditorOptions& o) { o.profile = &kept; });
    RemoteAccessService& service = RemoteAccessService::of(*second.editor);
    EXPECT_TRUE(service.running());
    EXPECT_EQ(service.server().port(), port);
    EXPECT_EQ(service.config().ownerPin, "2468");
}

TEST(RemoteAccess, APhoneEditIsOneUndoStepNamedAfterItAndShownAtOnce) {
    RemoteRig rig;
    ASSERT_TRUE(rig.connect());
    rig.editor->setLanguageIndex(kEnglish);
    RemoteAccessDialog* d = rig.turnOn(freePort());
    ASSERT_NE(d, nullptr);
    ASSERT_TRUE(RemoteAccessService::of(*rig.editor).running());
    ASSERT_TRUE(rig.login("2468"));
    const std::size_t steps = rig.editor->edits().history().size();
    rig.clearTrace();

    std::unique_ptr<QNetworkReply> r(rig.send("PUT", "/api/v1/params/mic.volume", {{"value", 55}}));
    ASSERT_EQ(rig.status(r.get()), 200) << r->readAll().toStdString();
    EXPECT_EQ(rig.cellValue("mic.volume"), 55);
    EXPECT_EQ(rig.ribbon().slider(cmd::MicSlider)->value(), 55); // shown at once
    EXPECT_EQ(rig.editor->edits().history().size(), steps + 1);
    EXPECT_EQ(rig.editor->edits().undoName().en, "Remote (owner 127.0.0.1): Mic Vol");
    EXPECT_EQ(rig.editor->edits().undoName().zh,
              std::string("遥控（管理员 127.0.0.1）：") + findParam("mic.volume")->nameZh);
    EXPECT_FALSE(rig.sent().empty()); // on its way to the amplifier
    // Who did it is in the log.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return rig.in<QPlainTextEdit>(d, "log")->toPlainText().contains("mic.volume"); },
        kNetworkGuardMs));

    // A patch of two values is one step too, undone as one.
    const double music = rig.cellValue("music.volume");
    r.reset(rig.send("PATCH", "/api/v1/params", {{"mic.volume", 20}, {"music.volume", 33}}));
    ASSERT_EQ(rig.status(r.get()), 200) << r->readAll().toStdString();
    EXPECT_EQ(rig.editor->edits().history().size(), steps + 2);
    EXPECT_EQ(rig.ribbon().slider(cmd::MusicSlider)->value(), 33);
    rig.undoKey();
    EXPECT_EQ(rig.cellValue("mic.volume"), 55);
    EXPECT_EQ(rig.cellValue("music.volume"), music);
    EXPECT_EQ(rig.ribbon().slider(cmd::MicSlider)->value(), 55);
}

TEST(RemoteAccess, EditsInTheEditorReachAWebSocketClient) {
    RemoteRig rig;
    ASSERT_TRUE(rig.connect());
    ASSERT_NE(rig.turnOn(freePort()), nullptr);
    ASSERT_TRUE(rig.login("2468"));
    QWebSocket ws;
    QStringList got;
    QObject::connect(&ws, &QWebSocket::textMessageReceived,
                     [&](const QString& m) { got.push_back(m); });
    QNetworkRequest r(QUrl(QString("ws://127.0.0.1:%1/api/v1/ws").arg(rig.port())));
    r.setRawHeader("Authorization", "Bearer " + rig.token.toUtf8());
    ws.open(r);
    ASSERT_TRUE(QTest::qWaitFor([&] { return ws.state() == QAbstractSocket::ConnectedState; },
                                kNetworkGuardMs))
        << ws.closeReason().toStdString() << " " << ws.errorString().toStdString();
    auto changed = [&](const char* id) -> QJsonValue {
        for (const QString& m : got) {
            const QJsonObject o = QJsonDocument::fromJson(m.toUtf8()).object();
            if (o.value("type") == "changed" && o.value("params").toObject().contains(id))
                return o.value("params").toObject().value(id);
        }
        return QJsonValue(QJsonValue::Undefined);
    };

    // The first message is everything the role may read.
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return !changed("music.mute").isUndefined(); }, kNetworkGuardMs));
    got.clear();
    // The music mute clicked on the ribbon, then undone: both reach the phone.
    QCheckBox* mute = rig.ribbon().check(cmd::MusicMute);
    ASSERT_NE(mute, nullptr);
    const bool wasMuted = mute->isChecked();
    rig.click(mute);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return !changed("music.mute").isUndefined(); }, kNetworkGuardMs));
    EXPECT_EQ(changed("music.mute").toString(), wasMuted ? "off" : "on");
    got.clear();
    rig.undoKey();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return !changed("music.mute").isUndefined(); }, kNetworkGuardMs));
    EXPECT_EQ(changed("music.mute").toString(), wasMuted ? "on" : "off");

    // Levels follow the poll.
    got.clear();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            rig.run(kLevelPollMs);
            for (const QString& m : got)
                if (m.contains("\"levels\""))
                    return true;
            return false;
        },
        kNetworkGuardMs));
    ws.close();
}

TEST(RemoteAccess, TheHostRefusesWhatWouldLoseTheEditorsWork) {
    RemoteRig rig;
    ASSERT_TRUE(rig.connect());
    EditorRemoteHost host(*rig.editor);
    const RemoteOrigin guest{"guest", "192.168.1.20"};
    // An edit made at the PC and not stored in a mode: a phone's mode recall would lose it.
    rig.click(rig.ribbon().check(cmd::MusicMute));
    ASSERT_TRUE(rig.runUntil([&] { return rig.editor->store().parametersChanged(); }));
    std::string error;
    EXPECT_FALSE(host.recallMode(2, guest, error));
    EXPECT_FALSE(error.empty());
    // A mode file put in place is one step, named after the remote.
    ModeImage image = rig.editor->store().modeImage();
    const ParamInfo* gate = findParam("music.gate");
    image.cells[std::size_t(gate->index)] = 12;
    const auto bytes = modeFileBytes(image);
    const std::size_t steps = rig.editor->edits().history().size();
    ASSERT_TRUE(host.putModeFile(std::string(bytes.begin(), bytes.end()), guest, error)) << error;
    EXPECT_EQ(rig.editor->edits().history().size(), steps + 1);
    EXPECT_EQ(rig.editor->edits().undoName().en, "Remote (guest 192.168.1.20): Load mode file");
    EXPECT_EQ(rig.cellValue("music.gate"), 12);
    EXPECT_FALSE(host.putModeFile("not a mode file", guest, error));
    EXPECT_TRUE(rig.connect());
    EXPECT_EQ(rig.cellValue("music.gate"), 12);
}

} // namespace
} // namespace q7::test
