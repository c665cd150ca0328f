#pragma once

// Qt Test assertions over whole meshes. Like QVERIFY they return from the calling function when
// they fail, with the first problem or difference found as the message.

#include "TestMeshes.h"
#include "mesh/MeshCheck.h"

#include <QString>
#include <QTest>

// The mesh passes the consistency check (checkMesh).
#define VERIFY_MESH(mesh)                                                                          \
    do {                                                                                           \
        const QString problem_ = checkMesh(mesh);                                                  \
        QVERIFY2(problem_.isEmpty(), qPrintable(problem_));                                        \
    } while (false)

// The mesh passes TestMeshes::soundness.
#define VERIFY_SOUND(mesh, closed)                                                                 \
    do {                                                                                           \
        const QString problem_ = TestMeshes::soundness(mesh, closed);                              \
        QVERIFY2(problem_.isEmpty(), qPrintable(problem_));                                        \
    } while (false)

// The mesh equals a snapshot taken earlier (TestMeshes::compareWithSnapshot).
#define VERIFY_SAME(expected, mesh)                                                                \
    do {                                                                                           \
        const QString difference_ = TestMeshes::compareWithSnapshot(expected, mesh);               \
        QVERIFY2(difference_.isEmpty(), qPrintable(difference_));                                  \
    } while (false)
