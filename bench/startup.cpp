// A program that only starts and exits, built and linked like the installer:
// what a process costs before the installer does anything.
int main() { return 0; }
