#include "app/OrvantaAppDelegate.h"

int main(int argc, char **argv)
{
    return OrvantaAppDelegate::main(argc, argv);
}
