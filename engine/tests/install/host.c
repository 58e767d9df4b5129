/* A host built against the installed package: one request, its reply on
 * standard output. */
#include <stdio.h>

#include <zefa_engine.h>

int main(void) {
  char* reply = zefa_engine_eval("{\"op\":\"merge\",\"mappings\":[{\"lamp-7\":{\"category\":\"dj\"}},{\"lamp-7\":{\"auto\":false}}]}");
  puts(reply);
  zefa_engine_free(reply);
  return 0;
}
