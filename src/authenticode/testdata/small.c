/* The smallest useful Windows program: something to sign in the tests. */
int main(void) { return 0; }
