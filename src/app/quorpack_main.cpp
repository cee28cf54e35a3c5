// Placeholder until the runner lands.
int main() { return 0; }
