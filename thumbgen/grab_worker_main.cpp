#include "thumbgen/GrabWorker.h"

int main(int argc, char** argv)
{
    return RunGrabWorker(argc, argv);
}
