#include "thumbnailer/Thumbnailer.h"

int main(int argc, char** argv)
{
    return RunThumbnailer(argc, argv);
}
