// Process entry: the show is one App object; its Run result is the exit status.
int main() { return 0; }
