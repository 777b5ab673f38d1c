#include "startup.h"

int main(int argc, char *argv[])
{
    return runPagelift(argc, argv);
}
