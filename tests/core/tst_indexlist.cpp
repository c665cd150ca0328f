// The vertex lists with inline room against std::vector under the same edits, across the move
// between the inline room and the heap; their copies and moves; their bytes in the history.
#include "mesh/HistoryMemory.h"
#include "mesh/IndexList.h"
#include "mesh/Vertex.h"

#include <QRandomGenerator>
#include <QtTest>

#include <vector>

class TestIndexList : public QObject
{
    Q_OBJECT
private slots:
    void sameAsVector_data();
    void sameAsVector();
};

void TestIndexList::sameAsVector_data()
{
    QTest::addColumn<int>("seed");
    QTest::addColumn<int>("reach"); // the sizes the edits wander around
    QTest::newRow("inside the room") << 1 << 5;
    QTest::newRow("across the room's end") << 2 << int(IndexList::inlineCapacity) + 2;
    QTest::newRow("on the heap") << 3 << 40;
}

void TestIndexList::sameAsVector()
{
    QFETCH(int, seed);
    QFETCH(int, reach);
    QRandomGenerator random(seed);
    IndexList list;
    std::vector<int> expected;
    for (int step = 0; step < 3000; ++step) {
        const int value = random.bounded(1000);
        const int at = expected.empty() ? 0 : random.bounded(int(expected.size()));
        const bool grow = int(expected.size()) < reach;
        switch (random.bounded(7)) {
        case 0:
        case 1:
            if (grow) {
                list.push_back(value);
                expected.push_back(value);
            }
            break;
        case 2:
            if (grow) {
                list.insert(list.begin() + at, value);
                expected.insert(expected.begin() + at, value);
            }
            break;
        case 3:
            if (!expected.empty()) {
                list.erase(list.begin() + at);
                expected.erase(expected.begin() + at);
            }
            break;
        case 4:
            list.resize(random.bounded(reach + 1), value);
            expected.resize(list.size(), value);
            break;
        case 5: { // copies and moves keep the entries, wherever they lie
            IndexList copy(list);
            IndexList moved(std::move(copy));
            list = moved;
            moved.shrink_to_fit();
            list = std::move(moved);
            break;
        }
        default: { // assignment from a vector, then a range at the end
            const std::vector<int> head(expected.begin(), expected.begin() + at);
            list = expected;
            list.insert(list.end(), head.begin(), head.end());
            expected.insert(expected.end(), head.begin(), head.end());
            break;
        }
        }
        QCOMPARE(std::vector<int>(list), expected);
        QCOMPARE(list.heapBytes() > 0, list.capacity() > IndexList::inlineCapacity);
    }

    // A saved vertex counts what its lists hold outside the record.
    Vertex v(0.0f, 0.0f, 0.0f, 0);
    v.triangleIndices = expected;
    QCOMPARE(HistoryMemory::recordBytes(v), sizeof(Vertex) + v.triangleIndices.heapBytes());
}

QTEST_APPLESS_MAIN(TestIndexList)
#include "tst_indexlist.moc"
