#include "worker/mm.h"

int main(int argc, char** argv) { return worker::Main(argc, argv); }
