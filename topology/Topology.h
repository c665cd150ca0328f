#pragma once

#include <QVector3D>

#include <cstdint>
#include <unordered_map>
#include <vector>

class Mesh;
class Triangle;
class Vertex;

// The dynamic topology of one brush step: long edges under the brush are split (subdivision),
// short ones collapsed or flipped (decimation), close surfaces fused (adaptive mode), and
// vertices left in shapes the rest of the program cannot handle are repaired. Built by
// Sculptor::sculpt on its stack for one step.
//
// Every operation keeps the mesh consistent as it goes: triangle and ring lists, the octree
// leaves' lists with Triangle::leafIndex, the brush stamps, and the open history state (every
// record is saved before its first change in the state; new records carry the current history
// stamp). Normals, boxes and octree placement are left to Mesh::updateMesh at the end of the
// step, which must receive the step's triangle list and its vertices.
//
// Removed records are first only marked (visit stamp -1) and listed in trianglesToDelete and
// verticesToDelete; they leave the arrays at the end of a decimation (or of a fusion), by
// moving the last record into the freed slot.
class Topology
{
public:
    // One triangle of a vertex's fan, turned so that the fan's centre is its vertex3:
    // vertex1 = a, vertex2 = b.
    struct FanRecord
    {
        int a = -1;
        int b = -1;
        int t = -1;
    };
    using Fan = std::vector<FanRecord>;

    Topology(Mesh *mesh, const QVector3D &center, float radiusSquared);
    Topology(const Topology &) = delete;
    Topology &operator=(const Topology &) = delete;

    // --- Subdivision ---

    // Passes of subdivide until one leaves the triangle count unchanged. `triangles` is the
    // step's list: on return it also holds every triangle created or changed.
    void subdivision(std::vector<int> &triangles, float d2Max);
    // Subdivision with d2Max, then decimation with d2Min.
    void uniformisation(std::vector<int> &triangles, float d2Min, float d2Max);
    // One pass: split the too-long triangles touching the brush (and, for a large split, the
    // long ones of the three rings around them), fill the hanging middles, relax around the new
    // vertices and refresh their brush stamps.
    void subdivide(std::vector<int> &triangles, float d2Max);
    // Appends to outTriangles/outCodes each listed triangle that touches the brush and has an
    // edge longer than sqrt(d2Max), with its longest-edge code.
    void findTrianglesToSplit(const std::vector<int> &triangles, std::vector<int> &outTriangles,
        std::vector<int> &outCodes, float d2Max);
    // Longest-edge code of triangle t: 0 (no split), 1 (vertex1-vertex2), 2 (vertex2-vertex3),
    // 3 (vertex3-vertex1). With sphereTest, a triangle that does not touch the brush gives 0.
    int findSplit(int t, float d2Max, bool sphereTest);
    // Whether edge (a, b) may be halved: it has one or two triangles, whose corners all have
    // ordinary edges only (vertexEdges).
    bool splitIsOk(int a, int b) const;
    // Splits each listed triangle on the edge of its code (a code 0 is computed afresh without
    // the sphere test).
    void splitTriangles(
        const std::vector<int> &triangles, const std::vector<int> &codes, float d2Max);
    // Halves triangle t = (i1, i2, i3) on its edge (i1, i2): t becomes (i1, m, i3) and a new
    // triangle (m, i2, i3) is appended. The middle m is created on the curved surface estimate,
    // or reused when the triangle on the other side was split earlier in the step.
    void halfEdgeSplit(int t, int i1, int i2, int i3);
    // Fills every hanging middle on the listed triangles; on return the list holds the
    // triangles that may still have one.
    void fillTriangles(std::vector<int> &triangles);
    // Triangle t = (ia, ib, ic) has the middle m on its edge (ia, ib): t becomes (ia, m, ic) and
    // a new triangle (m, ib, ic) is appended.
    void fillTriangle(int t, int ia, int ib, int ic, int m);

    // --- Decimation ---

    // Collapses (or flips) the shortest edge of each listed triangle near the brush that is
    // shorter than sqrt(d2Min) (weighted down across the band r..sqrt(2) r), then removes the
    // marked records and cleans the list of stale indices.
    void decimation(std::vector<int> &triangles, float d2Min);
    // The other triangle on edge (a, b) of triangle t; -1 on a border edge, when t is not on the
    // edge, or when three or more triangles share the edge. Sorts the triangle lists of a and b
    // (after saving them into the history).
    int findOppositeTriangle(int t, int a, int b);
    // Collapses the edge shared by t1 and t2 into its first vertex, or flips it when its ends
    // have three or more common neighbours. Nothing when t2 is -1, and nothing when an end has
    // fewer than three triangles or neighbours (a damaged mesh). Appends the kept vertex's
    // triangles to `triangles` after a collapse.
    void edgeCollapse(int t1, int t2, std::vector<int> &triangles);
    // Removes triangle t from its octree leaf and from the array, moving the last triangle into
    // its slot. t must already be out of every vertex's triangle list.
    void deleteTriangle(int t);
    // Removes vertex v from the array, moving the last vertex into its slot and fixing every
    // index that named it. v must already be out of every triangle and ring list.
    void deleteVertex(int v);
    // Sorts and de-duplicates trianglesToDelete and verticesToDelete and removes them, largest
    // index first.
    void deleteMarkedRecords();

    // --- Vertex repair ---

    // Repairs vertex v: removes it when it has fewer than three triangles (with the vertices
    // that this leaves degenerate in turn), and splits it when its triangles form two or more
    // cones touching at it. Saves everything it changes.
    void checkVertex(int v);
    // checkVertex on each vertex of the first list, then of the second.
    void checkVertices(const std::vector<int> &first, const std::vector<int> &second);
    // Removes v and its triangles when it has fewer than three triangles, cascading to corners
    // left with fewer than three. A corner of a border (one or two triangles in an open fan on
    // ordinary edges) is not degenerate and stays. Returns true when v is (now or already)
    // marked deleted.
    bool removeDegenerateVertex(int v);
    bool isBorderCorner(int v) const;
    // One record per triangle of v, in list order, each triangle turned (winding kept) so that v
    // is its vertex3. The triangles stay turned: save them first.
    void buildFan(int v, Fan &fan);
    // Reorders the fan into consecutive chains (each record's b is the next one's a), closing a
    // chain as soon as it can. False when a chain cannot be continued (v is on a border).
    bool chainFan(Fan &fan);

    // --- Surface fusion (adaptive mode) ---

    // Fuses the vertices of the step's list that lie inside the brush sphere with close
    // vertices that are not their neighbours (closer than sqrt(d2Fusion) / 2), then extends the
    // list with the triangles around the changed area and drops stale indices.
    void adaptive(std::vector<int> &triangles, float d2Fusion);
    // Finds close pairs among the listed vertices through a grid and joins them; removes the
    // joined vertices and dropped triangles, and relaxes the touched vertices inside the brush.
    void adaptTopology(const std::vector<int> &vertices, float d2Fusion);
    // Removes vertices a and b (a's ring at least as large as b's) and stitches their
    // surroundings together: with a tube between the two rings, or, when the rings share
    // vertices, piece by piece between the shared ones. The join is planned first and checked
    // against the triangles around it; a join that cannot be made soundly (a or b on a border
    // or pinched, fans that do not pair, a join that would give an edge more than two triangles
    // or open a hole) is refused and changes nothing. Returns true when joined.
    bool vertexJoin(int a, int b);
    // Number of joins made in this process (read by tests and benchmarks).
    static inline long joinsMade = 0;
    // Plans the tube between two closed fans without shared ring vertices (fanA at least as
    // long as fanB): fanA's triangles take vertices of b's ring, fanB's those of a's ring.
    void connect1Ring(Fan &fanA, Fan &fanB);
    // Rotates fanB (cyclic order kept) so that it starts with the record whose first vertex is
    // nearest to the first vertex of fanA.
    void alignFans(const Fan &fanA, Fan &fanB);
    // Plans the join of two closed fans whose rings share the (ascending) vertices `shared`:
    // triangles between two shared vertices are dropped, the fans are cut into pieces between
    // shared vertices, facing pieces are connected and the others closed.
    void connectLinkedFans(Fan &fanA, Fan &fanB, const std::vector<int> &shared);
    // Rotates each fan to start with its last record whose first vertex is c.
    void alignFansOnVertex(Fan &fanA, Fan &fanB, int c);
    // Plans turning a piece into a fan around its own first vertex (its first triangle dropped).
    void closeFanPiece(const Fan &piece);
    // Plans the strip between a piece P and a facing piece Q with no more records (the first
    // and last triangles of Q dropped).
    void connectPieces(const Fan &p, const Fan &q);

    // --- Shape around a vertex ---

    // The edges at vertex v as its triangles make them.
    struct VertexEdges
    {
        // Every triangle of v has three distinct corners and every edge at v has one or two
        // triangles. The steps leave the other edges alone: they are refused at a vertex that
        // is not ordinary, as border cases are.
        bool ordinary = true;
        int border = 0; // edges at v with one triangle
    };
    VertexEdges vertexEdges(int v) const;
    // Number of triangles on edge (a, b), counted as a's triangle list names them: a triangle
    // that names a twice counts twice, so an edge beside one is never taken for an ordinary
    // edge.
    int edgeTriangleCount(int a, int b) const;

    // --- History ---

    // Saves a copy of the record into the open state unless it is already saved there.
    void saveTriangle(int t);
    void saveVertex(int v);

    bool isDeleted(const Triangle &t) const;
    bool isDeleted(const Vertex &v) const;

    Mesh *mesh; // not owning
    std::vector<Triangle> &triangles;
    std::vector<Vertex> &vertices;
    QVector3D center;
    // Edge (smaller index, larger index) -> vertex created in its middle during this step.
    std::unordered_map<std::uint64_t, int> edgeMiddles;
    float radiusSquared;
    std::vector<int> touchedVertices;
    std::vector<int> trianglesToDelete;
    std::vector<int> verticesToDelete;

    static std::uint64_t edgeKey(int a, int b)
    {
        const auto lo = static_cast<std::uint32_t>(a < b ? a : b);
        const auto hi = static_cast<std::uint32_t>(a < b ? b : a);
        return (static_cast<std::uint64_t>(lo) << 32) | hi;
    }

private:
    void markTriangleDeleted(int t);
    void markVertexDeleted(int v);

    // A join is planned as a list of edits, checked, and only then applied.
    struct JoinEdit
    {
        enum Kind { SetApex, AddTriangle, RemoveTriangle, DropTriangle };
        Kind kind;
        int first; // triangle (SetApex, DropTriangle) or vertex (AddTriangle, RemoveTriangle)
        int second; // vertex (SetApex), triangle (AddTriangle, RemoveTriangle)
    };
    // The fan of v as buildFan makes it, without turning any triangle, chained; false unless
    // it is one closed cycle of at least three records over v's whole ring.
    bool closedFan(int v, Fan &fan);
    // Whether the planned edits leave the triangles around the join sound.
    bool joinIsSound(
        int a, int b, const Fan &fanA, const Fan &fanB, const std::vector<int> &shared) const;
    void planEdit(JoinEdit::Kind kind, int first, int second);

    std::vector<JoinEdit> joinEdits_;
    bool joinRefused_ = false;
    // The vertices relaxed by the last adaptTopology.
    std::vector<int> relaxedVertices_;

    bool hasState_ = false;
    // The other corners of a vertex's triangles, for vertexEdges.
    mutable std::vector<int> edgeEnds_;
    // Scratch buffers, reused to avoid allocations in the loops.
    std::vector<int> scratchA_;
    std::vector<int> scratchB_;
    // The fan of checkVertex, which is done with it before it recurses.
    Fan checkFan_;
    // Working room of the sort of the records to delete.
    std::vector<int> sortScratch_;
};
