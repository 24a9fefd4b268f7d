#include "worker/Commands.h"

int main(int argc, char** argv) { return vexMain(argc, argv); }
