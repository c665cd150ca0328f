// Join planning of surface fusion: the edits that stitch two closed fans together, either with
// a tube between their rings or piece by piece between the ring vertices they share. Planning
// changes no record; Topology::vertexJoin checks the plan before applying it.
#include "Topology.h"

#include "mesh/Mesh.h"

#include <algorithm>
#include <utility>

namespace {

// Rotates the fan (cyclic order kept) so that record k comes first.
void rotateTo(Topology::Fan &fan, std::size_t k)
{
    if (k > 0 && k < fan.size())
        std::rotate(fan.begin(), fan.begin() + static_cast<std::ptrdiff_t>(k), fan.end());
}

} // namespace

void Topology::alignFans(const Fan &fanA, Fan &fanB)
{
    if (fanA.empty() || fanB.empty())
        return;
    const QVector3D &first = vertices[fanA.front().a].position;
    std::size_t best = 0;
    float bestDistance = (vertices[fanB[0].a].position - first).lengthSquared();
    for (std::size_t k = 1; k < fanB.size(); ++k) {
        const float d = (vertices[fanB[k].a].position - first).lengthSquared();
        if (d < bestDistance) {
            bestDistance = d;
            best = k;
        }
    }
    rotateTo(fanB, best);
}

void Topology::connect1Ring(Fan &fanA, Fan &fanB)
{
    const int nA = static_cast<int>(fanA.size());
    const int nB = static_cast<int>(fanB.size());
    if (nB < 1 || nA < nB) {
        joinRefused_ = true;
        return;
    }
    alignFans(fanA, fanB);
    // B's ring is walked backwards: the two surfaces face each other.
    const float step = static_cast<float>(nB) / static_cast<float>(nA);
    int previous = nA == nB ? -1 : 0;
    int j = 0;
    for (int i = 0; i < nA; ++i) {
        if (j < 0 || j >= nB) {
            joinRefused_ = true;
            return;
        }
        planEdit(JoinEdit::SetApex, fanA[i].t, fanB[j].a);
        planEdit(JoinEdit::AddTriangle, fanB[j].a, fanA[i].t);
        if (j != previous) {
            planEdit(JoinEdit::SetApex, fanB[j].t, fanA[i].a);
            planEdit(JoinEdit::AddTriangle, fanA[i].a, fanB[j].t);
        }
        previous = j;
        j = static_cast<int>(static_cast<float>(nB) - step * static_cast<float>(i + 1));
    }
}

void Topology::alignFansOnVertex(Fan &fanA, Fan &fanB, int c)
{
    for (Fan *fan : {&fanA, &fanB}) {
        std::size_t found = fan->size();
        for (std::size_t k = 0; k < fan->size(); ++k) {
            if ((*fan)[k].a == c)
                found = k;
        }
        if (found == fan->size()) {
            joinRefused_ = true;
            return;
        }
        rotateTo(*fan, found);
    }
}

void Topology::connectLinkedFans(Fan &fanA, Fan &fanB, const std::vector<int> &shared)
{
    if (shared.empty()) {
        joinRefused_ = true;
        return;
    }
    auto isShared = [&shared](
                        int v) { return std::binary_search(shared.begin(), shared.end(), v); };
    auto between = [&isShared](const FanRecord &r) { return isShared(r.a) && isShared(r.b); };

    // Triangles between two shared vertices go: the join must not keep a triangle there.
    for (const Fan *fan : {&fanA, &fanB}) {
        for (const FanRecord &r : *fan) {
            if (!between(r))
                continue;
            planEdit(JoinEdit::RemoveTriangle, r.a, r.t);
            planEdit(JoinEdit::RemoveTriangle, r.b, r.t);
            planEdit(JoinEdit::DropTriangle, r.t, -1);
        }
    }

    alignFansOnVertex(fanA, fanB, shared.front());
    if (joinRefused_)
        return;

    // Pieces: runs of records between shared vertices.
    auto cut = [&](const Fan &fan) {
        std::vector<Fan> pieces;
        Fan current;
        for (const FanRecord &r : fan) {
            if (between(r)) {
                if (!current.empty())
                    pieces.push_back(std::move(current));
                current.clear();
                continue;
            }
            current.push_back(r);
            if (isShared(r.b)) {
                pieces.push_back(std::move(current));
                current.clear();
            }
        }
        if (!current.empty())
            pieces.push_back(std::move(current));
        return pieces;
    };
    const std::vector<Fan> piecesA = cut(fanA);
    const std::vector<Fan> piecesB = cut(fanB);

    // A's pieces forward, B's backward (the surfaces face each other).
    int p = 0;
    int q = static_cast<int>(piecesB.size()) - 1;
    const int countA = static_cast<int>(piecesA.size());
    while (!joinRefused_ && (p < countA || q >= 0)) {
        const bool hasX = p < countA;
        const bool hasY = q >= 0;
        const int x = hasX ? piecesA[p].front().a : -1;
        const int y = hasY ? piecesB[q].back().b : -1;
        if (hasX && hasY && x == y) {
            if (piecesA[p].size() > piecesB[q].size())
                connectPieces(piecesA[p], piecesB[q]);
            else
                connectPieces(piecesB[q], piecesA[p]);
            ++p;
            --q;
            continue;
        }
        bool closeA = !hasY;
        if (hasX && hasY) {
            for (const FanRecord &r : fanA) {
                if (r.a == x) {
                    closeA = true;
                    break;
                }
                if (r.a == y)
                    break;
            }
        }
        if (closeA) {
            closeFanPiece(piecesA[p]);
            ++p;
        } else {
            closeFanPiece(piecesB[q]);
            --q;
        }
    }
}

void Topology::closeFanPiece(const Fan &piece)
{
    if (piece.empty())
        return;
    const FanRecord &first = piece.front();
    planEdit(JoinEdit::RemoveTriangle, first.a, first.t);
    planEdit(JoinEdit::RemoveTriangle, first.b, first.t);
    for (std::size_t k = 1; k < piece.size(); ++k) {
        planEdit(JoinEdit::SetApex, piece[k].t, first.a);
        planEdit(JoinEdit::AddTriangle, first.a, piece[k].t);
    }
    planEdit(JoinEdit::DropTriangle, first.t, -1);
}

void Topology::connectPieces(const Fan &p, const Fan &q)
{
    const int nP = static_cast<int>(p.size());
    const int nQ = static_cast<int>(q.size());
    // Q's first and last triangles are dropped, so it needs two records.
    if (nQ < 2 || nP < nQ) {
        joinRefused_ = true;
        return;
    }
    const FanRecord &firstQ = q.front();
    const FanRecord &lastQ = q.back();
    planEdit(JoinEdit::RemoveTriangle, firstQ.a, firstQ.t);
    planEdit(JoinEdit::RemoveTriangle, firstQ.b, firstQ.t);
    planEdit(JoinEdit::RemoveTriangle, lastQ.a, lastQ.t);
    planEdit(JoinEdit::RemoveTriangle, lastQ.b, lastQ.t);
    const float ratio = static_cast<float>(nQ) / static_cast<float>(nP);
    int previous = 0;
    for (int i = 1; i <= nP; ++i) {
        int j = static_cast<int>(static_cast<float>(nQ) - ratio * static_cast<float>(i));
        j = std::clamp(j, 1, nQ - 1);
        planEdit(JoinEdit::SetApex, p[i - 1].t, q[j].a);
        planEdit(JoinEdit::AddTriangle, q[j].a, p[i - 1].t);
        if (j != previous && j != nQ - 1) {
            planEdit(JoinEdit::SetApex, q[j].t, p[i - 1].a);
            planEdit(JoinEdit::AddTriangle, p[i - 1].a, q[j].t);
        }
        previous = j;
    }
    planEdit(JoinEdit::DropTriangle, firstQ.t, -1);
    planEdit(JoinEdit::DropTriangle, lastQ.t, -1);
}
