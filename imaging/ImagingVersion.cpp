// Placeholder so the library has a source until its first stage lands.
namespace tessan_imaging {
int version() { return 1; }
}
