#include "Startup.h"

int main(int argc, char** argv) {
    return v38::runVestibar(argc, argv);
}
