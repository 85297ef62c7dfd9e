#include "common/luafixture.h"
#include "host/modulelocator.h"

#include <QtTest>

class TestModuleLocator : public QObject
{
    Q_OBJECT

private slots:
    void expandsAndNormalisesPaths_data()
    {
        QTest::addColumn<QByteArray>("basepath");
        QTest::addColumn<QByteArray>("paths");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("cpath");
        QTest::newRow("dot and dot-dot")
            << QByteArray("a/./b/../c") << QByteArray("?.lua") << "a/c/?.lua"
            << "a/c/?.lua";
        QTest::newRow("backslashes")
            << QByteArray("C:\\base\\.\\sub\\..\\app") << QByteArray("?/init.lua;;modules")
            << "C:/base/app/?/init.lua;C:/base/app/modules/?.lua"
            << "C:/base/app/?/init.lua;C:/base/app/modules/?.so";
        QTest::newRow("absolute keeps its slash")
            << QByteArray("/opt/app/bin/../..") << QByteArray("?.lua") << "/opt/?.lua"
            << "/opt/?.lua";
        QTest::newRow("too many dot-dots")
            << QByteArray("x/../../y") << QByteArray("m") << "y/m/?.lua"
            << "y/m/?.so";
        QTest::newRow("empty list") << QByteArray("/base") << QByteArray("") << ""
                                    << "";
    }

    void expandsAndNormalisesPaths()
    {
        QFETCH(QByteArray, basepath);
        QFETCH(QByteArray, paths);
        QFETCH(QString, path);
        QFETCH(QString, cpath);
        LuaFixture f;
        locateModules(f.L, "/nonexistent", "bundle.bin", basepath.constData(), paths.constData(),
                      nullptr);
        QCOMPARE(lua_gettop(f.L), 0);
        QCOMPARE(f.eval("package.path"), path);
        QCOMPARE(f.eval("package.cpath"), cpath);
    }
};

QTEST_MAIN(TestModuleLocator)
#include "tst_modulelocator.moc"
