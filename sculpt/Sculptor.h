#pragma once

#include "geometry/Picking.h"

#include <QVector3D>

#include <vector>

class Mesh;

// Brush tools; the values are the ids of the tool radio buttons.
enum SculptTool : int {
    INFLATE = 0,
    DEFLATE = 1,
    SMOOTH = 2,
    FLATTEN = 3,
    SWEEP = 4,
    MASK = 5,
    CREASE = 6
};

// Dynamic topology modes; the values are the ids of the topology radio buttons.
enum TopoMode : int {
    DECIMATION = 0,
    SUBDIVISION = 1,
    UNIFORMISATION = 2,
    ADAPTIVE = 3,
    STATIC = 4
};

// The brush engine: the user's brush settings, and one brush step (sculpt) that saves the
// touched records into the open history state, lets the dynamic topology work around the
// selection, deforms the selected vertices with the current tool and brings normals, boxes,
// octree and GPU buffers up to date. All points are in the mesh's own coordinates.
class Sculptor
{
public:
    Sculptor() = default;

    // One brush step on the mesh set with setMesh. `vertices` holds on entry the picked
    // vertices (those with the current Vertex::brushStamp are deformed), and on return every
    // vertex of the triangles the step touched. `eyeDir` is the unit direction of the mouse ray,
    // used only by culling. Does nothing without a mesh. `triangles` and `corners`, when given
    // and not empty, are the triangles around the picked vertices and their corners as
    // Picking::pickVerticesInSphere gathers them: a step without topology changes takes them
    // (swapping its own working lists in, so that no list is allocated from one step to the
    // next) instead of walking the vertices' triangle lists again.
    void sculpt(std::vector<int> &vertices, const QVector3D &center, float radiusSquared,
        const QVector3D &eyeDir, std::vector<int> *triangles = nullptr,
        std::vector<int> *corners = nullptr);
    // A step of inflate, deflate or sweep without topology changes deforms its vertices while
    // Picking::pickVerticesInSphere gathers them, piece by piece, with the records of each
    // piece still at hand: this gives the picking its receiver for the step, and the sculpt
    // call that follows the pick (with the same centre, radius and eye direction) finishes the
    // step. The results are those of the whole step made after the pick. Null for other
    // steps (or without a mesh), which sculpt makes whole.
    Picking::Pieces *startPickedStep(
        const QVector3D &center, float radiusSquared, const QVector3D &eyeDir);
    // The squared edge lengths and move limit of a step with this squared brush radius.
    void updateTopologyThresholds(float radiusSquared);

    // --- Tools: each changes only the positions of the listed vertices ---
    void inflate(const std::vector<int> &vertices, float radiusSquared, float intensity);
    void smooth(const std::vector<int> &vertices, float intensity);
    void flatten(const std::vector<int> &vertices, float radiusSquared, float intensity);
    void sweep(const std::vector<int> &vertices, float radiusSquared, float intensity);
    // Raises the mask of the listed vertices by the falloff times the intensity (lowers it when
    // inverted), within [0, 1]. Positions stay.
    void paintMask(const std::vector<int> &vertices, float radiusSquared, float intensity);
    // Pushes the listed vertices inwards along the area normal (outwards when inverted) and pulls
    // them towards the stroke's line through the brush centre, leaving a sharp valley (ridge).
    void crease(const std::vector<int> &vertices, float radiusSquared, float intensity);

    // --- Smoothing operations shared with the dynamic topology ---
    // One average per listed vertex: of its whole ring for an inner vertex, of its border
    // neighbours for a border vertex. A vertex with nothing to average keeps its position.
    void laplacianSmooth(const std::vector<int> &vertices, std::vector<QVector3D> &out);
    // Smoothing within each vertex's tangent plane.
    void smoothFlat(const std::vector<int> &vertices, float intensity);
    // Moves every listed vertex onto its average (projected on the tangent plane when
    // `tangential`), in the calling thread.
    void smoothNoLimit(const std::vector<int> &vertices, bool tangential);
    // Normalized sum of the vertex normals (zero vector for a zero sum).
    QVector3D areaNormal(const std::vector<int> &vertices);
    // Mean position (zero vector for an empty list).
    QVector3D areaCenter(const std::vector<int> &vertices);

    // Falloff of the brush at t = distance / radius: 3t^4 - 4t^3 + 1, not clamped beyond 1.
    static float falloff(float t) { return 3.0f * t * t * t * t - 4.0f * t * t * t + 1.0f; }

    // --- Settings ---
    void setMesh(Mesh *m) { mesh = m; }
    Mesh *getMesh() const { return mesh; }
    void setIntensity(float value) { intensity = value; }
    float getIntensity() const { return intensity; }
    void toggleCulling() { culling = !culling; }
    void setCulling(bool value) { culling = value; }
    bool getCulling() const { return culling; }
    void setTool(int value) { tool = value; }
    int getTool() const { return tool; }
    void setTopoMode(int value) { topoMode = value; }
    int getTopoMode() const { return topoMode; }
    void setDetail(float value) { detail = value; }
    float getDetail() const { return detail; }
    const QVector3D &getSweepCenter() const { return sweepCenter; }
    void setSweepCenter(const QVector3D &p) { sweepCenter = p; }
    const QVector3D &getSweepDir() const { return sweepDir; }
    void setSweepDir(const QVector3D &d) { sweepDir = d; }
    bool isSweep() const { return tool == SWEEP; }
    // The invert key (Ctrl) held: inflate and deflate swap, the mask is lowered, the crease
    // raises a ridge.
    void setInvert(bool value) { invert = value; }
    bool getInvert() const { return invert; }
    // The stroke's line, which the crease pulls towards: startLine at the press (where the brush
    // went down), advanceLine with the centre of each step. The direction is the unit vector
    // from the previous centre to the last one, zero until the brush has moved.
    void startLine()
    {
        hasLinePoint = false;
        lineDir = QVector3D();
    }
    void advanceLine(const QVector3D &point);
    const QVector3D &getLineDir() const { return lineDir; }
    void setLineDir(const QVector3D &d) { lineDir = d; }
    const QVector3D &getCenter() const { return center; }

    float getD2Min() const { return d2Min; }
    float getD2Max() const { return d2Max; }
    float getD2Fusion() const { return d2Fusion; }
    float getD2Move() const { return d2Move; }

private:
    // falloff(|p - c| / r) of every listed vertex p, into `falloffs`, in list order.
    void computeFalloffs(const std::vector<int> &vertices, const QVector3D &c, float r);
    // apply(k, falloff) for the k-th listed vertex p, falloff as computeFalloffs gives it, from
    // several threads at once. Each vertex's falloff comes from its position before any apply:
    // the list has no repeated vertex.
    template<typename Apply>
    void forEachFalloff(
        const std::vector<int> &vertices, const QVector3D &c, float r, const Apply &apply);
    // Saves a piece's records, deforms its vertices and updates its triangles.
    void sculptPiece(const int *triangles, int nbTriangles, const int *inside, int nbInside,
        const int *corners, int nbCorners);
    // The picking's receiver of a step started by startPickedStep.
    class StepPieces : public Picking::Pieces
    {
    public:
        void piece(const int *triangles, int nbTriangles, const int *inside, int nbInside,
            const int *corners, int nbCorners) override
        {
            sculptor->sculptPiece(triangles, nbTriangles, inside, nbInside, corners, nbCorners);
        }
        void trianglesOfPiece(const int *triangles, int nbTriangles, bool beside) override;
        Sculptor *sculptor = nullptr; // not owning
    };
    // The vertices to deform among the listed ones, in order, into `working`: those the
    // picking stamped, less, with culling, those facing away from the viewer (or with a NaN
    // product).
    void listWorking(const int *vertices, std::size_t count, const QVector3D &eyeDir);

    Mesh *mesh = nullptr; // not owning
    float intensity = 0.75f;
    int tool = INFLATE;
    int topoMode = UNIFORMISATION;
    QVector3D center {0.0f, 0.0f, 0.0f};
    bool culling = false;
    float detail = 0.75f;
    float d2Min = 0.0f;
    float d2Max = 0.0f;
    float d2Fusion = 0.0f;
    float d2Move = 0.0f;
    QVector3D sweepCenter {0.0f, 0.0f, 0.0f};
    QVector3D sweepDir {0.0f, 0.0f, 0.0f};
    bool invert = false;
    bool hasLinePoint = false;
    QVector3D linePoint {0.0f, 0.0f, 0.0f};
    QVector3D lineDir {0.0f, 0.0f, 0.0f};
    // Working lists of sculpt, kept from one step to the next for their room.
    std::vector<int> stepTriangles;
    std::vector<int> working;
    std::vector<float> falloffs; // of the listed vertices, by computeFalloffs
    // The step started by startPickedStep, until sculpt finishes it.
    StepPieces stepPieces;
    bool pickedStep = false;
    bool piecesMade = false;
    float stepRadiusSquared = 0.0f;
    QVector3D stepEye {0.0f, 0.0f, 0.0f};
};
