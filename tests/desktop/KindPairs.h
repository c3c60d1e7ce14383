#pragma once
// Data rows "kind" and "outputKind": every source kind with every output kind it offers.

#include <QString>
#include <QTest>

inline void AddKindPairRows() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("outputKind");
    QTest::newRow("CIA to CIA") << ".cia"
                                << ".cia";
    QTest::newRow("CIA to CXI") << ".cia"
                                << ".cxi";
    QTest::newRow("CXI to CIA") << ".cxi"
                                << ".cia";
    QTest::newRow("CXI to CXI") << ".cxi"
                                << ".cxi";
    QTest::newRow("3DS to CIA") << ".3ds"
                                << ".cia";
    QTest::newRow("3DS to CXI") << ".3ds"
                                << ".cxi";
    QTest::newRow("3DS to 3DS") << ".3ds"
                                << ".3ds";
}
