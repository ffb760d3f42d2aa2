// Does nothing, statically linked: what starting any process costs on this
// machine, so that the benchmark can tell start-up from work.
int main() { return 0; }
