#include "Cli.h"

int main(int argc, char** argv) {
    return kestrum::cli::run(argc, argv);
}
