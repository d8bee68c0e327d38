/* Runs only where the host kernel executes IA-32 programs; 42 says so
   (a refused program gives the shell's 126 instead). */
int main(void) { return 42; }
