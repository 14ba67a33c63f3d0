// SPDX-License-Identifier: GPL-3.0-or-later
// q7ctl serve as a user runs it: the real program on the simulated amplifier, asked over HTTP,
// stopped by a signal.
#include "device/amplifier_lock.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <csignal>
#include <gtest/gtest.h>

namespace {

// The longest any one condition is waited for before the test gives up (a failure bound, never
// a pause).
constexpr int kGiveUpMs = 30000;

// Runs the event loop until done() holds or the bound passes.
bool waitFor(const std::function<bool()>& done) {
    QEventLoop loop;
    QTimer poll, bound;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QObject::connect(&bound, &QTimer::timeout, &loop, &QEventLoop::quit);
    poll.start(5);
    bound.start(kGiveUpMs);
    if (!done())
        loop.exec();
    return done();
}

class Serve {
public:
    // lockFile: the amplifier lock it uses (its own when empty).
    explicit Serve(const QStringList& args, const QString& lockFile = {}) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("Q7EDIT_LOCK_FILE",
                   lockFile.isEmpty() ? dir_.filePath("amplifier.lock") : lockFile);
        process_.setProcessEnvironment(env);
        process_.start(Q7CTL_PATH, args);
    }
    ~Serve() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished();
        }
    }
    // The page's address from the first line, "serving http://127.0.0.1:PORT/".
    QString address() {
        waitFor([this] {
            out_ += process_.readAllStandardOutput();
            return out_.contains('\n') || process_.state() == QProcess::NotRunning;
        });
        const QString line = QString::fromUtf8(out_.left(out_.indexOf('\n')));
        return line.startsWith("serving ") ? line.mid(8) : QString();
    }
    QString err() {
        err_ += process_.readAllStandardError();
        return QString::fromUtf8(err_);
    }
    void signal(int s) { ::kill(pid_t(process_.processId()), s); }
    // The exit code once it ended by itself; -1 when it did not end or crashed.
    int finished() {
        if (!waitFor([this] { return process_.state() == QProcess::NotRunning; }))
            return -1;
        err();
        return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    }
    QString dir(const QString& name) const { return dir_.filePath(name); }

private:
    QTemporaryDir dir_;
    QProcess process_;
    QByteArray out_, err_;
};

struct Answer {
    int status = 0;
    QJsonObject body;
};

Answer ask(const QString& method, const QString& url, const QByteArray& body = {},
           const QString& token = {}) {
    QNetworkAccessManager net;
    QNetworkRequest request{QUrl(url)};
    request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
    if (!token.isEmpty())
        request.setRawHeader("Authorization", "Bearer " + token.toUtf8());
    QNetworkReply* reply = net.sendCustomRequest(request, method.toUtf8(), body);
    waitFor([reply] { return reply->isFinished(); });
    Answer a;
    a.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    a.body = QJsonDocument::fromJson(reply->readAll()).object();
    reply->deleteLater();
    return a;
}

QString login(const QString& base, const QString& pin) {
    const Answer a =
        ask("POST", base + "api/v1/login", QJsonDocument(QJsonObject{{"pin", pin}}).toJson());
    return a.status == 200 ? a.body["token"].toString() : QString();
}

TEST(Q7ctlServeProcess, ServesTheSimulatorAndStopsOnSigterm) {
    Serve serve({"--simulator", "serve", "--listen", "127.0.0.1:0", "--owner-pin", "271828"});
    const QString base = serve.address();
    ASSERT_TRUE(base.startsWith("http://127.0.0.1:"))
        << base.toStdString() << serve.err().toStdString();
    EXPECT_FALSE(base.endsWith(":0/"));

    EXPECT_EQ(ask("GET", base + "api/v1/status").status, 401);
    const QString token = login(base, "271828");
    ASSERT_FALSE(token.isEmpty());
    const Answer status = ask("GET", base + "api/v1/status", {}, token);
    EXPECT_EQ(status.status, 200);
    EXPECT_TRUE(status.body["connected"].toBool());
    EXPECT_EQ(status.body["model"].toString(), "Q7");

    // A write goes to the amplifier and reads back; the log names it and keeps the secrets.
    const Answer put = ask("PUT", base + "api/v1/params/mic.volume", R"({"value": 23})", token);
    EXPECT_EQ(put.status, 200) << QJsonDocument(put.body).toJson().toStdString();
    EXPECT_EQ(ask("GET", base + "api/v1/params/mic.volume", {}, token).body["value"].toDouble(),
              23);
    ASSERT_TRUE(waitFor([&] { return serve.err().contains("mic.volume"); }));
    EXPECT_TRUE(serve.err().contains("owner 127.0.0.1")) << serve.err().toStdString();
    EXPECT_FALSE(serve.err().contains("271828"));
    EXPECT_FALSE(serve.err().contains(token));

    serve.signal(SIGTERM);
    EXPECT_EQ(serve.finished(), 0) << serve.err().toStdString();
    EXPECT_TRUE(serve.err().contains("stopping"));
}

TEST(Q7ctlServeProcess, ARecalledModeIsReadBackAndTheModeFileRoundTrips) {
    Serve serve({"--simulator", "serve", "--listen", "127.0.0.1:0", "--owner-pin", "161803"});
    const QString base = serve.address();
    ASSERT_FALSE(base.isEmpty()) << serve.err().toStdString();
    const QString token = login(base, "161803");
    ASSERT_FALSE(token.isEmpty());
    auto micVolume = [&] {
        return ask("GET", base + "api/v1/params/mic.volume", {}, token).body["value"].toDouble();
    };
    ASSERT_EQ(ask("PUT", base + "api/v1/params/mic.volume", R"({"value": 31})", token).status, 200);

    // The file as it is now; then mode 2 replaces the settings, read back from the amplifier.
    QNetworkAccessManager net;
    QNetworkRequest get{QUrl(base + "api/v1/modefile")};
    get.setRawHeader("Authorization", "Bearer " + token.toUtf8());
    QNetworkReply* file = net.get(get);
    ASSERT_TRUE(waitFor([file] { return file->isFinished(); }));
    const QByteArray saved = file->readAll();
    ASSERT_EQ(saved.size(), 1791);
    EXPECT_EQ(ask("POST", base + "api/v1/modes/2/recall", {}, token).status, 200);
    ASSERT_TRUE(waitFor([&] { return micVolume() != 31; })) << "the recalled mode was not read";
    EXPECT_EQ(ask("GET", base + "api/v1/status", {}, token).body["mode"].toInt(), 2);

    // Writes wait for nothing once the read is done, and the saved file puts 31 back.
    QNetworkRequest put{QUrl(base + "api/v1/modefile")};
    put.setRawHeader("Authorization", "Bearer " + token.toUtf8());
    put.setHeader(QNetworkRequest::ContentTypeHeader, "application/octet-stream");
    Answer a;
    ASSERT_TRUE(waitFor([&] {
        QNetworkReply* r = net.put(put, saved);
        waitFor([r] { return r->isFinished(); });
        a.status = r->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        r->deleteLater();
        return a.status != 409; // 409 only while the mode is still being read
    }));
    EXPECT_EQ(a.status, 200);
    EXPECT_EQ(micVolume(), 31);
    serve.signal(SIGTERM);
    EXPECT_EQ(serve.finished(), 0) << serve.err().toStdString();
}

TEST(Q7ctlServeProcess, SigintStopsItAndOptionsOverrideTheConfigFile) {
    QTemporaryDir dir;
    const QString config = dir.filePath("serve.json");
    {
        QFile f(config);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(R"({"listen": "127.0.0.1:1", "owner_pin": "111111", "guest_open": true})");
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    }
    Serve serve({"--simulator", "serve", "--config", config, "--listen", "127.0.0.1:0",
                 "--owner-pin", "222222"});
    const QString base = serve.address();
    ASSERT_FALSE(base.isEmpty()) << serve.err().toStdString();
    EXPECT_FALSE(base.endsWith(":1/")) << "--listen overrides the file";
    EXPECT_TRUE(login(base, "111111").isEmpty());
    EXPECT_FALSE(login(base, "222222").isEmpty());
    // The file's open guest access still holds: no PIN needed.
    const Answer guest = ask("POST", base + "api/v1/login", R"({"pin": ""})");
    EXPECT_EQ(guest.status, 200);
    EXPECT_EQ(guest.body["role"].toString(), "guest");
    serve.signal(SIGINT);
    EXPECT_EQ(serve.finished(), 0) << serve.err().toStdString();
}

TEST(Q7ctlServeProcess, ABadConfigFileOrATakenPortFailsWithOneLine) {
    Serve first({"--simulator", "serve", "--listen", "127.0.0.1:0"});
    const QString base = first.address();
    ASSERT_FALSE(base.isEmpty());
    const QString taken = base.mid(7).chopped(1); // "127.0.0.1:PORT"
    Serve second({"--simulator", "serve", "--listen", taken});
    EXPECT_EQ(second.finished(), 1);
    EXPECT_TRUE(second.err().contains("cannot listen on " + taken)) << second.err().toStdString();

    Serve missing({"--simulator", "serve", "--config", first.dir("none.json")});
    EXPECT_EQ(missing.finished(), 1);
    EXPECT_TRUE(missing.err().startsWith("q7ctl: ")) << missing.err().toStdString();
    first.signal(SIGTERM);
    EXPECT_EQ(first.finished(), 0);
}

TEST(Q7ctlServeProcess, TheAmplifierInUseElsewhereIsRefused) {
    // The editor (here: the test) has the amplifier on USB: serve and a command both say who
    // has it, before they look for the device.
    QTemporaryDir dir;
    const QString path = dir.filePath("amplifier.lock");
    q7::AmplifierLock editor;
    ASSERT_EQ(editor.acquire("q7edit", path.toStdString()), q7::AmplifierLock::Result::Taken);
    const QString said = "q7ctl: the amplifier is in use by q7edit (process " +
                         QString::number(QCoreApplication::applicationPid()) +
                         "); close it first\n";
    for (const QStringList& args :
         {QStringList{"serve", "--listen", "127.0.0.1:0"}, QStringList{"get", "mic.volume"}}) {
        Serve other(args, path);
        EXPECT_EQ(other.finished(), 1) << args.join(' ').toStdString();
        EXPECT_EQ(other.err(), said);
    }
    // The simulator is no shared device: it needs no lock.
    Serve simulated({"--simulator", "get", "mic.volume"}, path);
    EXPECT_EQ(simulated.finished(), 0) << simulated.err().toStdString();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
