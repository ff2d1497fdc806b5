#include "st_main_dvr.h"

int main() { return vidrec_main(); }
