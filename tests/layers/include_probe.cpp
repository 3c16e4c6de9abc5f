// Compiles when LAYER_HEADER is visible to the layer this object links.
#include LAYER_HEADER
