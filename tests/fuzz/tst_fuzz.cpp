#include "common/hosttree.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#ifndef REMOTE_FUZZ_DIR
#error "REMOTE_FUZZ_DIR must name the folder holding fuzz.lua and cases/"
#endif

// The fuzzer (fuzz.lua) and the crashes it found (cases/*.lua) run as the real host's
// application. A run passes when the host exits 0 in time, having printed its closing line, with
// no sanitizer report and without its resident memory passing the limit.
//
// REMOTE_FUZZ_SEEDS (a count, or FIRST-LAST) and REMOTE_FUZZ_CALLS make longer runs.
class TestFuzz : public QObject
{
    Q_OBJECT

private:
    static constexpr qint64 memoryLimit = 3LL * 1024 * 1024 * 1024;

    struct Outcome {
        bool finished = false;
        bool crashed = false;
        int exitCode = -1;
        qint64 peakMemory = 0;
        bool memoryExceeded = false;
        QString output;
    };

    static QString fuzzDirectory() { return QStringLiteral(REMOTE_FUZZ_DIR); }

#ifdef REMOTE_SANITIZE
    static constexpr bool sanitized = true;
#else
    static constexpr bool sanitized = false;
#endif

    static QByteArray readFile(const QString &path)
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return QByteArray();
        return file.readAll();
    }

    // Resident memory of a running process, in bytes (0 once it is gone).
    static qint64 residentMemory(qint64 pid)
    {
        QFile status(QString("/proc/%1/status").arg(pid));
        if (!status.open(QIODevice::ReadOnly))
            return 0;
        const QString text = QString::fromLatin1(status.readAll());
        const QRegularExpressionMatch match =
            QRegularExpression("^VmRSS:\\s+(\\d+) kB", QRegularExpression::MultilineOption)
                .match(text);
        return match.hasMatch() ? match.captured(1).toLongLong() * 1024 : 0;
    }

    static Outcome run(const QByteArray &application, const QMap<QString, QString> &environment,
                       int timeoutMs)
    {
        HostTree tree;
        tree.writeApplication(application);
        // A drag or a dialog would wait for a real user under a real window system.
        tree.setEnvironment("QT_QPA_PLATFORM", "offscreen");
        // The leak checker's slow unwinding on every allocation makes a sanitized fuzz run take
        // minutes; the library suppressions still match with the fast one.
        QString leakOptions = qEnvironmentVariable("LSAN_OPTIONS");
        tree.setEnvironment("LSAN_OPTIONS", leakOptions.remove(":fast_unwind_on_malloc=0"));
        for (auto it = environment.cbegin(); it != environment.cend(); ++it)
            tree.setEnvironment(it.key(), it.value());
        QProcess process;
        tree.start(process);
        Outcome outcome;
        if (!process.waitForStarted(10000)) {
            outcome.output = "the host did not start: " + process.errorString();
            return outcome;
        }
        const qint64 pid = process.processId();
        QDeadlineTimer deadline(timeoutMs);
        while (!process.waitForFinished(100)) {
            if (process.state() == QProcess::NotRunning)
                break;
            const qint64 memory = residentMemory(pid);
            outcome.peakMemory = qMax(outcome.peakMemory, memory);
            if (memory > memoryLimit) {
                outcome.memoryExceeded = true;
                break;
            }
            if (deadline.hasExpired())
                break;
        }
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(10000);
        } else {
            outcome.finished = true;
            outcome.crashed = process.exitStatus() == QProcess::CrashExit;
            outcome.exitCode = process.exitCode();
        }
        outcome.output = QString::fromLocal8Bit(process.readAll());
        return outcome;
    }

    static QString lastLineMatching(const QString &output, const QRegularExpression &pattern)
    {
        const QStringList lines = output.split('\n');
        for (auto it = lines.crbegin(); it != lines.crend(); ++it)
            if (pattern.match(*it).hasMatch())
                return *it;
        return QString("(none)");
    }

    // Empty when the run passed, else what went wrong.
    static QString verdict(const Outcome &outcome, const QString &closingLine)
    {
        QStringList problems;
        if (outcome.memoryExceeded)
            problems << QString("resident memory passed %1 MiB").arg(memoryLimit >> 20);
        else if (!outcome.finished)
            problems << "did not end in time";
        else if (outcome.crashed)
            problems << "crashed";
        else if (outcome.exitCode != 0)
            problems << QString("exit code %1").arg(outcome.exitCode);
        if (outcome.finished && !outcome.output.contains(closingLine))
            problems << QString("no '%1' line").arg(closingLine);
        for (const char *report : {"AddressSanitizer", "LeakSanitizer", "runtime error:"})
            if (outcome.output.contains(QLatin1String(report)))
                problems << QString("'%1' in the output").arg(report);
        if (outcome.output.contains("fuzz runaway memory"))
            problems << lastLineMatching(outcome.output, QRegularExpression("^fuzz runaway"));
        return problems.join(", ");
    }

    static void showTail(const QString &output, int count)
    {
        const QStringList lines = output.split('\n');
        for (int i = qMax(0, lines.size() - count); i < lines.size(); ++i)
            qInfo().noquote() << "  |" << lines.at(i).left(300);
    }

    static QPair<int, int> seedRange()
    {
        const QString text = qEnvironmentVariable("REMOTE_FUZZ_SEEDS");
        const QStringList bounds = text.split('-');
        bool ok = false;
        if (bounds.size() == 2) {
            bool okLast = false;
            const int first = bounds.at(0).toInt(&ok);
            const int last = bounds.at(1).toInt(&okLast);
            if (ok && okLast && first <= last)
                return {first, last};
        }
        const int count = text.toInt(&ok);
        return {1, ok && count > 0 ? count : 3};
    }

    static int callsPerRun()
    {
        bool ok = false;
        const int calls = qEnvironmentVariableIntValue("REMOTE_FUZZ_CALLS", &ok);
        return ok && calls > 0 ? calls : 1500;
    }

private slots:
    void seeds_data()
    {
        QTest::addColumn<int>("seed");
        const QPair<int, int> range = seedRange();
        for (int seed = range.first; seed <= range.second; ++seed)
            QTest::addRow("seed %d", seed) << seed;
    }

    void seeds()
    {
        QFETCH(int, seed);
        const QByteArray fuzzer = readFile(fuzzDirectory() + "/fuzz.lua");
        QVERIFY2(!fuzzer.isEmpty(), qPrintable("cannot read " + fuzzDirectory() + "/fuzz.lua"));
        const int calls = callsPerRun();
        QMap<QString, QString> environment;
        environment.insert("REMOTE_FUZZ_SEED", QString::number(seed));
        environment.insert("REMOTE_FUZZ_CALLS", QString::number(calls));
        // Generous: a run takes well under a second per thousand calls; the sanitizers make
        // each call (a recorder's thread and audio devices above all) many times slower.
        const int timeoutMs = 20000 + calls * (sanitized ? 30 : 10);
        QElapsedTimer clock;
        clock.start();
        const Outcome outcome = run(fuzzer, environment, timeoutMs);
        const QString problems = verdict(outcome, "fuzz done seed " + QString::number(seed));
        if (!problems.isEmpty()) {
            showTail(outcome.output, 30);
            const QString lastCall =
                lastLineMatching(outcome.output, QRegularExpression("^fuzz \\d+:"));
            QFAIL(qPrintable(QString("seed %1 (REMOTE_FUZZ_SEED=%1 REMOTE_FUZZ_CALLS=%2): %3; "
                                     "last call: %4")
                                 .arg(seed)
                                 .arg(calls)
                                 .arg(problems, lastCall)));
        }
        qInfo("seed %d: %d calls in %lld ms, peak %lld MiB", seed, calls, clock.elapsed(),
              outcome.peakMemory >> 20);
    }

    void cases_data()
    {
        QTest::addColumn<QString>("path");
        const QDir folder(fuzzDirectory() + "/cases");
        const QStringList names = folder.entryList({"*.lua"}, QDir::Files, QDir::Name);
        for (const QString &name : names)
            QTest::newRow(qPrintable(name)) << folder.filePath(name);
    }

    void cases()
    {
        QFETCH(QString, path);
        const QByteArray application = readFile(path);
        QVERIFY2(!application.isEmpty(), qPrintable("cannot read " + path));
        const Outcome outcome = run(application, {}, 20000);
        const QString problems = verdict(outcome, "case done");
        if (!problems.isEmpty()) {
            showTail(outcome.output, 20);
            QFAIL(qPrintable(
                QString("%1: %2; its first line says what it did before the fix: %3")
                    .arg(QFileInfo(path).fileName(), problems,
                         QString::fromUtf8(application.left(application.indexOf('\n'))))));
        }
    }
};

QTEST_MAIN(TestFuzz)
#include "tst_fuzz.moc"
