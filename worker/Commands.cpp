#include "worker/Commands.h"

#include <cstdio>

int vexMain(int, char**) {
    std::printf("vexcore: usage: vexcore analyze|fp|validate <audiofile> <outfile>\n");
    return 0;
}
