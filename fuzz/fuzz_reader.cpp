// One libFuzzer target per reader: the bytes go through the whole reader (parsing, records,
// loading pipeline). A reader must either refuse the bytes with a reason or hand back a mesh that
// passes the consistency check; the sanitizers catch every read or write out of bounds.

#include "io/Files.h"
#include "mesh/MeshCheck.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#if defined(FUZZ_READER_STL)
constexpr Files::Kind kind = Files::Kind::Stl;
#elif defined(FUZZ_READER_OBJ)
constexpr Files::Kind kind = Files::Kind::Obj;
#elif defined(FUZZ_READER_3DS)
constexpr Files::Kind kind = Files::Kind::ThreeDs;
#else
#error "define FUZZ_READER_STL, FUZZ_READER_OBJ or FUZZ_READER_3DS"
#endif

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    QString error;
    std::unique_ptr<Mesh> mesh = Files::loadBytes(kind, bytes, {}, &error);
    if (!mesh) {
        if (error.isEmpty() || error.contains(u'\n')) {
            std::fprintf(stderr, "refused without a one-line reason: \"%s\"\n", qPrintable(error));
            std::abort();
        }
        return 0;
    }
    const QString problem = checkMesh(*mesh);
    if (!problem.isEmpty()) {
        std::fprintf(stderr, "inconsistent mesh: %s\n", qPrintable(problem));
        std::abort();
    }
    return 0;
}
