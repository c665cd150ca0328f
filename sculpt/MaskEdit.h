#pragma once

class Mesh;

// Whole-mesh edits of the mask, each one undoable step: a history state of its own holding the
// vertices whose mask changes, with the GPU buffers patched when the mesh has a GPU half.
namespace MaskEdit {

// Every vertex's mask m becomes 1 - m. Returns false, opening no state, when nothing changes.
bool invert(Mesh &mesh);
// Every mask becomes 0. Returns false, opening no state, when nothing is masked.
bool clear(Mesh &mesh);

} // namespace MaskEdit
