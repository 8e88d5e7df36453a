int kestrel_placeholder() { return 0; }
