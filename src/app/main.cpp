// Entry point; the main sequence lives in app/main_sequence.cpp.
int main() { return 2; }
