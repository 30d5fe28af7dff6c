// Anchor of the read-only data both programs carry; embedded files are added by CMake.
namespace tw::assets {
int assetsLibraryAnchor = 0;
}
