#pragma once

// Qt Test assertions over whole meshes. Like QCOMPARE they return from the calling function when
// they fail, with the first problem or difference found as the actual value.

#include "TestMeshes.h"
#include "mesh/MeshCheck.h"

#include <QString>
#include <QTest>

// The mesh passes the consistency check (checkMesh).
#define VERIFY_MESH(mesh) QCOMPARE(checkMesh(mesh), QString())
// The mesh passes TestMeshes::soundness.
#define VERIFY_SOUND(mesh, closed) QCOMPARE(TestMeshes::soundness(mesh, closed), QString())
// The mesh equals a snapshot taken earlier (TestMeshes::compareWithSnapshot).
#define VERIFY_SAME(expected, mesh)                                                                \
    QCOMPARE(TestMeshes::compareWithSnapshot(expected, mesh), QString())
