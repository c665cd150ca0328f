// The undo/redo history of Mesh: opening a state, saving records into it, undoing and redoing,
// the content version, and the memory budget of the saved records.
#include "Mesh.h"

#include "HistoryMemory.h"
#include "Prefetch.h"

#include <iterator>
#include <utility>

RecordLog<Triangle> &Mesh::getTrianglesState()
{
    if (currentState_ == undoStates_.end())
        return scratchState_.savedTriangles;
    return currentState_->savedTriangles;
}

RecordLog<Vertex> &Mesh::getVerticesState()
{
    if (currentState_ == undoStates_.end())
        return scratchState_.savedVertices;
    return currentState_->savedVertices;
}

int Mesh::getCurrentStateIndex() const
{
    if (currentState_ == undoStates_.end())
        return -1;
    return static_cast<int>(
        std::distance(undoStates_.begin(), std::list<State>::const_iterator(currentState_)));
}

void Mesh::newState()
{
    ++historyCounter;
    if (firstStateUndone_) {
        undoStates_.clear();
        currentState_ = undoStates_.end();
    } else if (static_cast<int>(undoStates_.size()) >= maxUndoStates) {
        if (currentState_ == undoStates_.begin()) {
            // The oldest state is the current one and every later state has been undone: all
            // of them go, and the history keeps only the new state.
            baseVersion_ = getContentVersion();
            undoStates_.clear();
            currentState_ = undoStates_.end();
        } else {
            dropOldestState();
        }
    }
    firstStateUndone_ = false;
    redoStates_.clear();
    if (currentState_ != undoStates_.end()) {
        undoStates_.erase(std::next(currentState_), undoStates_.end());
        // The closing state will not grow any more.
        HistoryMemory::shrink(*currentState_);
        HistoryMemory::update(*currentState_);
    }
    enforceHistoryBudget();

    State &state = undoStates_.emplace_back();
    currentState_ = std::prev(undoStates_.end());
    state.serial = ++stateSerial_;
    state.triangleCount = getNbTriangles();
    state.vertexCount = getNbVertices();
    if (octree_)
        state.octreeBox = octree_->aabbSplit;
}

void Mesh::pushState(const std::vector<int> &triangles, const std::vector<int> &vertices)
{
    pushRecords(triangles.data(), triangles.data() + triangles.size(), vertices.data(),
        vertices.data() + vertices.size());
}

void Mesh::pushNeighbourhood(int v)
{
    // The lists are read in place: nothing is added to them while records are saved.
    const Vertex &vertex = vertices_[v];
    pushRecords(vertex.triangleIndices.begin(), vertex.triangleIndices.end(),
        vertex.ringIndices.begin(), vertex.ringIndices.end());
}

void Mesh::pushRecords(const int *trianglesBegin, const int *trianglesEnd, const int *verticesBegin,
    const int *verticesEnd)
{
    if (currentState_ == undoStates_.end())
        return;
    State &state = *currentState_;
    const int counter = historyCounter;
    for (const int *it = trianglesBegin; it != trianglesEnd; ++it) {
        Triangle &t = triangles_[*it];
        if (t.historyStamp == counter)
            continue;
        t.historyStamp = counter;
        state.savedTriangles.push_back(t);
    }
    for (const int *it = verticesBegin; it != verticesEnd; ++it) {
        Vertex &v = vertices_[*it];
        if (v.historyStamp == counter)
            continue;
        v.historyStamp = counter;
        state.savedVertices.push_back(v);
    }
    if (!piecesOpen_)
        enforceHistoryBudget();
}

std::vector<int> Mesh::pushStateAround(const std::vector<int> &vertices)
{
    if (currentState_ == undoStates_.end())
        return getTrianglesFromVertices(vertices);
    State &state = *currentState_;
    const int historyStamp = historyCounter;
    const int visit = ++Triangle::visitCounter;
    std::vector<int> result;
    result.reserve(vertices.size() * 2);
    const int count = static_cast<int>(vertices.size());
    for (int k = 0; k < count; ++k) {
        if (k + 2 * prefetchAhead < count)
            prefetch(&vertices_[vertices[k + 2 * prefetchAhead]].triangleIndices);
        if (k + prefetchAhead < count) {
            for (int index : vertices_[vertices[k + prefetchAhead]].triangleIndices)
                prefetch(&triangles_[index]);
        }
        const int i = vertices[k];
        Vertex &v = vertices_[i];
        if (v.historyStamp != historyStamp) {
            v.historyStamp = historyStamp;
            state.savedVertices.push_back(v);
        }
        for (int index : v.triangleIndices) {
            Triangle &t = triangles_[index];
            if (t.visitStamp == visit)
                continue;
            t.visitStamp = visit;
            result.push_back(index);
            if (t.historyStamp != historyStamp) {
                t.historyStamp = historyStamp;
                state.savedTriangles.push_back(t);
            }
        }
    }
    enforceHistoryBudget();
    return result;
}

void Mesh::setHistoryBudget(std::size_t bytes)
{
    historyBudget_ = bytes;
    enforceHistoryBudget();
}

std::size_t Mesh::getHistoryBytes()
{
    std::size_t total = 0;
    for (State &s : undoStates_)
        total += HistoryMemory::update(s);
    for (State &s : redoStates_)
        total += HistoryMemory::update(s);
    return total;
}

void Mesh::enforceHistoryBudget()
{
    std::size_t total = getHistoryBytes();
    while (total > historyBudget_ && !undoStates_.empty() && !firstStateUndone_
        && undoStates_.begin() != currentState_) {
        total -= undoStates_.front().bytes;
        dropOldestState();
    }
}

void Mesh::dropOldestState()
{
    const State &oldest = undoStates_.front();
    // A state that saved nothing changed nothing: the content before it stays the base.
    if (!oldest.savedTriangles.empty() || !oldest.savedVertices.empty())
        baseVersion_ = oldest.serial;
    undoStates_.pop_front();
}

std::uint64_t Mesh::getContentVersion() const
{
    if (firstStateUndone_ || currentState_ == undoStates_.end())
        return baseVersion_;
    for (auto it = std::list<State>::const_iterator(currentState_);; --it) {
        if (!it->savedTriangles.empty() || !it->savedVertices.empty())
            return it->serial;
        if (it == undoStates_.begin())
            return baseVersion_;
    }
}

namespace {

Triangle placeholderTriangle()
{
    return Triangle(QVector3D(0.0f, 0.0f, 0.0f), -1, -1, -1, -1);
}

Vertex placeholderVertex()
{
    return Vertex(QVector3D(0.0f, 0.0f, 0.0f), -1);
}

// Saves into `saved` what `current` holds now for the records that `restoring` will overwrite
// (created records first, then the saved ids still present), and resizes `current` to the
// count `targetCount`.
template<typename Record>
void swapOut(std::vector<Record> &current, const RecordLog<Record> &restoring, int targetCount,
    RecordLog<Record> &saved, Record (*placeholder)())
{
    const int count = static_cast<int>(current.size());
    if (targetCount < count) {
        for (int i = targetCount; i < count; ++i)
            saved.push_back(current[i]);
        for (const Record &r : restoring) {
            if (r.id >= 0 && r.id < targetCount)
                saved.push_back(current[r.id]);
        }
        current.resize(targetCount, placeholder());
    } else {
        if (targetCount > count)
            current.resize(targetCount, placeholder());
        for (const Record &r : restoring) {
            if (r.id >= 0 && r.id < count)
                saved.push_back(current[r.id]);
        }
    }
}

template<typename Record>
void writeBack(std::vector<Record> &current, const RecordLog<Record> &saved)
{
    const int count = static_cast<int>(current.size());
    for (const Record &r : saved) {
        if (r.id >= 0 && r.id < count)
            current[r.id] = r;
    }
}

} // namespace

void Mesh::undo()
{
    if (undoStates_.empty() || firstStateUndone_ || currentState_ == undoStates_.end())
        return;
    State &s = *currentState_;
    State r;
    r.triangleCount = getNbTriangles();
    r.vertexCount = getNbVertices();
    if (octree_)
        r.octreeBox = octree_->aabbSplit;

    swapOut(triangles_, s.savedTriangles, s.triangleCount, r.savedTriangles, placeholderTriangle);
    swapOut(vertices_, s.savedVertices, s.vertexCount, r.savedVertices, placeholderVertex);
    writeBack(triangles_, s.savedTriangles);
    writeBack(vertices_, s.savedVertices);

    rebuildOctree(s.octreeBox);
    initVBO();
    redoStates_.push_back(std::move(r));

    if (currentState_ == undoStates_.begin()) {
        firstStateUndone_ = true;
    } else {
        firstStateUndone_ = false;
        --currentState_;
    }
}

void Mesh::redo()
{
    if (redoStates_.empty())
        return;
    State &r = redoStates_.back();
    if (r.triangleCount != getNbTriangles())
        triangles_.resize(r.triangleCount, placeholderTriangle());
    if (r.vertexCount != getNbVertices())
        vertices_.resize(r.vertexCount, placeholderVertex());
    writeBack(triangles_, r.savedTriangles);
    writeBack(vertices_, r.savedVertices);

    rebuildOctree(r.octreeBox);
    initVBO();

    if (firstStateUndone_)
        firstStateUndone_ = false;
    else if (currentState_ != undoStates_.end() && std::next(currentState_) != undoStates_.end())
        ++currentState_;
    redoStates_.pop_back();
}
