// Reads an XML file with expat and handlers that do nothing, in the same chunks as the
// library reader, and prints the wall time: the floor any library scan can reach.

#include <chrono>
#include <cstdio>
#include <expat.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

void XMLCALL onStart(void*, const XML_Char*, const XML_Char**) {}
void XMLCALL onEnd(void*, const XML_Char*) {}
void XMLCALL onText(void*, const XML_Char*, int) {}

constexpr int chunkBytes = 256 * 1024;

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: expat_floor <file.xml>\n");
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    const int fd = ::open(argv[1], O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        std::perror(argv[1]);
        return 1;
    }
    XML_Parser parser = XML_ParserCreate(nullptr);
    XML_SetElementHandler(parser, onStart, onEnd);
    XML_SetCharacterDataHandler(parser, onText);
    long long bytes = 0;
    for (;;) {
        void* buffer = XML_GetBuffer(parser, chunkBytes);
        const ssize_t count = buffer ? ::read(fd, buffer, chunkBytes) : -1;
        if (count < 0) {
            std::perror("read");
            return 1;
        }
        bytes += count;
        if (XML_ParseBuffer(parser, static_cast<int>(count), count == 0) != XML_STATUS_OK) {
            std::fprintf(stderr, "%s at line %lu\n", XML_ErrorString(XML_GetErrorCode(parser)),
                         XML_GetCurrentLineNumber(parser));
            return 1;
        }
        if (count == 0) break;
    }
    XML_ParserFree(parser);
    ::close(fd);
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::printf("expat floor: %lld bytes in %.1f ms (%.0f MB/s)\n", bytes, ms,
                bytes / 1e6 / (ms / 1e3));
    return 0;
}
