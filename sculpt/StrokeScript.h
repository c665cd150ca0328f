#pragma once

#include <QByteArray>
#include <QString>
#include <QVector3D>

#include <vector>

class Mesh;

// A brush stroke written down: the brush settings, an optional press ray, and the dabs, each a
// ray in the mesh's own coordinates with a brush radius in mesh units. Replaying it sculpts
// exactly as a right drag in the view whose every move passes the spacing test.
//
// JSON form (every key optional except "dabs"):
//   { "tool": "inflate" | "deflate" | "smooth" | "flatten" | "sweep" | "mask" | "crease" | 0..6,
//     "topology": "decimate" | "subdivide" | "uniform" | "adaptive" | "static" | 0..4,
//     "intensity": 0..1, "detail": 0..1, "culling": bool, "symmetry": bool,
//     "invert": bool (the invert key held through the stroke),
//     "press": { "origin": [x, y, z], "direction": [x, y, z] },
//     "dabs": [ { "origin": [x, y, z], "direction": [x, y, z], "radius": r }, ... ] }
// The press ray (where the right button goes down) defaults to the first dab's ray.
// A file of several strokes is { "strokes": [ {...}, {...} ] }, each element of that form.
struct StrokeScript
{
    struct Ray
    {
        QVector3D origin;
        QVector3D direction;
    };
    struct Dab
    {
        Ray ray;
        float radius = 0.0f;
    };

    int tool = 0;
    int topology = 2;
    float intensity = 0.75f;
    float detail = 0.75f;
    bool culling = false;
    bool symmetry = false;
    bool invert = false;
    bool hasPress = false;
    Ray press;
    std::vector<Dab> dabs;

    // Reads the JSON form; on failure returns false with a one-line reason in *error.
    static bool parse(const QByteArray &json, StrokeScript &script, QString *error = nullptr);
    // Reads either form: one stroke, or a "strokes" list of them, in order.
    static bool parseList(
        const QByteArray &json, std::vector<StrokeScript> &strokes, QString *error = nullptr);
};

// What one replay did.
struct StrokeReport
{
    struct DabReport
    {
        bool hit = false; // the dab's ray met the mesh
        int applications = 0; // brush applications made (2 for a symmetric step)
        double milliseconds = 0.0;
    };
    std::vector<DabReport> dabs;
    int hits = 0;
    int applications = 0;
};

// Plays the stroke on the mesh: press (opens a history state), the dabs, release. Each dab picks
// along its ray; on a hit (or with the sweep tool, from the sweep centre) it sculpts as one
// accepted mouse move does. With no dab nothing happens at all.
StrokeReport replayStroke(Mesh &mesh, const StrokeScript &script);
