#pragma once

#include "Aabb.h"
#include "MeshGpu.h"
#include "Octree.h"
#include "State.h"
#include "Triangle.h"
#include "Vertex.h"

#include <QColor>
#include <QMatrix4x4>
#include <QString>
#include <QVector3D>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <utility>
#include <vector>

// Receives progress texts ("Loading : ..."); an empty sink means silence.
using MessageSink = std::function<void(const QString &)>;

// A loaded model: the vertex and triangle arrays, the octree over the triangles, the model
// matrix, the colour, the undo/redo history and, when a render layer is attached, the GPU half.
class Mesh
{
public:
    Mesh();
    ~Mesh();
    Mesh(const Mesh &) = delete;
    Mesh &operator=(const Mesh &) = delete;

    // --- Loading pipeline (initTopology, initVBO, moveTo(origin), in that order) ---

    // Ring lists, scaling to a 500-unit diagonal, triangle boxes, octree. Needs at least one
    // vertex and one triangle; an empty mesh is left untouched. `corners`, when given, holds
    // every triangle's three corners in triangle order, as its record does: the rings are read
    // from this compact array rather than from the records scattered in memory.
    void initTopology(const MessageSink &sink = {}, const int *corners = nullptr);
    // Vertex normals, then the full GPU build and shader rebuild when a GPU half is attached.
    void initVBO(const MessageSink &sink = {});
    // Model matrix = translation by (point - centre).
    void moveTo(const QVector3D &point);
    // After the given triangles and vertices moved or changed (or had their mask painted):
    // triangle normals and boxes, octree moves, vertex normals, and GPU patching (or a full
    // rebuild when outgrown).
    void updateMesh(const std::vector<int> &triangles, const std::vector<int> &vertices);
    // updateMesh in pieces, for a step that moves its vertices piece by piece: the boxes and
    // normals of each piece of `triangles`, in order, given once their corners have moved
    // (startPieces first), then the rest with the whole lists (finishPieces).
    void startPieces()
    {
        octreeListed_ = 0;
        octreeCovered_ = 0;
        piecesBeside_ = false;
        piecesOpen_ = true;
    }
    // `beside`: on a second thread, while the calling thread goes on with the pick.
    void updateTrianglePiece(const int *triangles, int count, bool beside = false);
    void finishPieces(const std::vector<int> &triangles, const std::vector<int> &vertices);
    // pushState over two ranges of indices. Between startPieces and finishPieces, the history
    // budget is enforced once, when the pieces are finished.
    void pushState(const int *trianglesBegin, const int *trianglesEnd, const int *verticesBegin,
        const int *verticesEnd)
    {
        pushRecords(trianglesBegin, trianglesEnd, verticesBegin, verticesEnd);
    }

    // Reserves room for the given counts plus a quarter more, before a loader first fills the
    // arrays: a stroke that adds records then does not stop to move the whole arrays, and the
    // room costs no resident memory until it is used.
    void reserveRecords(std::size_t nbVertices, std::size_t nbTriangles);

    // --- GPU seam ---
    void setGpu(std::unique_ptr<MeshGpu> gpu);
    MeshGpu *getGpu() const { return gpu_.get(); }
    // Stores the shading mode and rebuilds the program through the GPU half, if any.
    void initShaders(int mode);

    // --- Accessors ---
    std::vector<Vertex> &getVertices() { return vertices_; }
    const std::vector<Vertex> &getVertices() const { return vertices_; }
    std::vector<Triangle> &getTriangles() { return triangles_; }
    const std::vector<Triangle> &getTriangles() const { return triangles_; }
    Triangle &getTriangle(int i) { return triangles_[i]; }
    const Triangle &getTriangle(int i) const { return triangles_[i]; }
    Vertex &getVertex(int i) { return vertices_[i]; }
    const Vertex &getVertex(int i) const { return vertices_[i]; }
    int getNbTriangles() const { return static_cast<int>(triangles_.size()); }
    int getNbVertices() const { return static_cast<int>(vertices_.size()); }
    Octree *getOctree() const { return octree_.get(); }
    std::vector<Octree *> &getLeavesUpdate() { return leavesToUpdate_; }
    QColor getColor() const { return color_; }
    void setColor(const QColor &color) { color_ = color; }
    float getScale() const { return scale_; }
    QVector3D getCenter() const { return center_; }
    int getShaderType() const { return shaderType_; }
    void setShaderType(int mode) { shaderType_ = mode; }
    const QMatrix4x4 &getTransformation() const { return transformation_; }
    // Column-major float copy of the model matrix, refreshed whenever the matrix changes.
    const float *getTransformationData() const { return transformationData_; }
    QMatrix4x4 getInverseTransformation() const { return transformation_.inverted(); }
    void toggleDrawOctree() { drawOctree_ = !drawOctree_; }
    bool getDrawOctree() const { return drawOctree_; }

    // Saved-record lists of the current history state. Without a current state they refer to a
    // scratch state that nothing reads.
    RecordLog<Triangle> &getTrianglesState();
    RecordLog<Vertex> &getVerticesState();

    // --- Neighbourhood queries (calling thread only: they advance the stamp counters) ---
    void computeRingVertices(int i);
    void expandVertices(std::vector<int> &vertices, int n);
    void expandTriangles(std::vector<int> &triangles, int n);
    std::vector<int> getVerticesFromTriangles(const std::vector<int> &triangles);
    std::vector<int> getTrianglesFromVertices(const std::vector<int> &vertices);

    // --- History ---
    void newState();
    void pushState(const std::vector<int> &triangles, const std::vector<int> &vertices);
    // pushState(v's triangles, v's ring), without copying the lists.
    void pushNeighbourhood(int v);
    // getTrianglesFromVertices(vertices), pushing those triangles and the vertices into the
    // current state in the same pass (the records saved are those of
    // pushState(getTrianglesFromVertices(vertices), vertices)).
    std::vector<int> pushStateAround(const std::vector<int> &vertices);
    void undo();
    void redo();
    const std::list<State> &getUndoStates() const { return undoStates_; }
    const std::list<State> &getRedoStates() const { return redoStates_; }
    // Position of the current state in the undo list, -1 when there is none.
    int getCurrentStateIndex() const;
    bool isFirstStateUndone() const { return firstStateUndone_; }
    // At most this many states are kept before the oldest is discarded.
    static constexpr int maxUndoStates = 11;
    // Memory budget of the history, counting the saved records with their lists. Opening a
    // state, and saving records into the open one, drops the oldest states while the states
    // hold more than the budget; the open (current) state itself is never dropped.
    static constexpr std::size_t defaultHistoryBudget = std::size_t(1) << 30;
    void setHistoryBudget(std::size_t bytes);
    std::size_t getHistoryBudget() const { return historyBudget_; }
    // Bytes held by the undo and redo states.
    std::size_t getHistoryBytes();
    // Names the content the history has brought the mesh to: undoing or redoing back to a
    // content gives its number again, a stroke that saved records gives a new one, and a stroke
    // that changed nothing keeps the number. 0 is the content the mesh was loaded with.
    std::uint64_t getContentVersion() const;

    // --- Octree maintenance ---
    // Splits crowded and merges emptied leaves among those recorded by sphere queries.
    void checkLeavesUpdate();
    // Moves the given triangles (boxes already recomputed) between leaves; rebuilds the whole
    // tree when one of them left the root's loose box.
    void updateOctree(const std::vector<int> &triangles);
    // New tree over all triangles in the given box (no margin added).
    void rebuildOctree(const Aabb &box);

    // Stamp counter for Triangle::historyStamp and Vertex::historyStamp.
    static inline int historyCounter = 1;

private:
    void setTransformation(const QMatrix4x4 &m);
    // Writes the ring of vertex i as computeRingVertices does, without touching any stamp, so
    // that threads may fill different vertices' rings at once. `scratch` is working memory;
    // the corners are read from `corners` when given (as initTopology takes them), otherwise
    // from the records.
    void fillRing(int i, std::vector<std::pair<int, int>> &scratch, const int *corners);
    void computeVertexNormals();
    // Boxes and unit normals (Geometry::triangleBox, Geometry::triangleNormal) of `count`
    // triangles, the k-th being triangle indexOf(k). With leafWork (room for count flags),
    // whether each triangle may have to move in the octree: 0 only when the centre of its box
    // stays in its leaf's cell and the box in the leaf's loose box. FetchAhead: the records are
    // asked for a few triangles ahead.
    template<bool FetchAhead, typename IndexOf>
    void updateTriangleGeometry(int count, const IndexOf &indexOf, char *leafWork);
    // updateTriangleGeometry of the listed triangles, their flags appended to the octree work.
    template<bool FetchAhead>
    void updateTriangles(const int *triangles, int count);
    // Normals of `count` vertices, the k-th being vertex indexOf(k): the sum of its triangles'
    // normals, normalized (the zero vector when too short).
    template<typename IndexOf>
    void updateVertexNormals(int count, const IndexOf &indexOf);
    void buildRoot(const Aabb &box);
    // updateOctree without the rebuild: returns true when a triangle left the root's loose box
    // (the moves stop there), for rebuildOctreeWithMargin to do. A triangle of the step left
    // out of `triangles` must stay in its leaf and inside its loose box: loose boxes only grow,
    // and cells do not change during a step.
    bool moveInOctree(const int *triangles, std::size_t count);
    // A new tree over the root's cell grown by Octree::rootMargin on every side.
    void rebuildOctreeWithMargin();
    void clearOctree();
    // Drops the oldest states, never the current one, while the history is over its budget.
    void enforceHistoryBudget();
    // pushState over two ranges of indices.
    void pushRecords(const int *trianglesBegin, const int *trianglesEnd, const int *verticesBegin,
        const int *verticesEnd);
    // Discards the oldest undo state, which must be applied (at or before the current state).
    void dropOldestState();

    // Destruction order matters: the octree and history go before the arrays.
    std::vector<Vertex> vertices_;
    std::vector<Triangle> triangles_;
    std::unique_ptr<MeshGpu> gpu_;
    QVector3D center_;
    int shaderType_ = 0;
    QColor color_ = QColor(120, 200, 200, 255);
    float scale_ = 1.0f;
    bool drawOctree_ = false;
    QMatrix4x4 transformation_;
    float transformationData_[16];
    std::vector<Octree *> leavesToUpdate_; // not owning
    std::vector<char> octreeWork_; // scratch of updateTriangles
    // The triangles of the step that may have to move in the octree: updateTriangles lists them
    // in the first octreeListed_ entries, and counts the triangles it computed flags for.
    std::vector<int> octreeCandidates_;
    std::size_t octreeListed_ = 0;
    std::size_t octreeCovered_ = 0;
    bool piecesOpen_ = false; // between startPieces and finishPieces
    bool piecesBeside_ = false; // a piece's triangles updated on a second thread
    std::vector<int> movedWork_; // scratch of updateOctree
    std::list<State> undoStates_;
    std::list<State> redoStates_;
    std::list<State>::iterator currentState_;
    bool firstStateUndone_ = false;
    std::size_t historyBudget_ = defaultHistoryBudget;
    std::uint64_t stateSerial_ = 0; // last serial given to a state
    std::uint64_t baseVersion_ = 0; // content before the oldest state kept
    State scratchState_;
    std::unique_ptr<Octree> octree_;
};
