/* Counts the guest instructions a program executes in user space, for the emulator's TCG plugin
 * interface (API version 1, as Debian's qemu-user 7.2 loads it). That package ships no
 * qemu-plugin.h, so the five calls used are declared here as the interface defines them.
 * Each translated block adds its instruction count to one counter every time it runs; at exit
 * the total is written to the file given as out=PATH, or to standard error.
 *   qemu-aarch64 -plugin ./libinsn_count.so,out=count.txt ./program */
#include <inttypes.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#define EXPORT __attribute__((visibility("default")))

typedef uint64_t qemu_plugin_id_t;
struct qemu_plugin_tb;
struct qemu_info_t; /* only passed through */
enum qemu_plugin_op { QEMU_PLUGIN_INLINE_ADD_U64 };
typedef void (*qemu_plugin_vcpu_tb_trans_cb_t)(qemu_plugin_id_t id, struct qemu_plugin_tb* tb);
typedef void (*qemu_plugin_udata_cb_t)(qemu_plugin_id_t id, void* userdata);

void qemu_plugin_register_vcpu_tb_trans_cb(qemu_plugin_id_t id, qemu_plugin_vcpu_tb_trans_cb_t cb);
size_t qemu_plugin_tb_n_insns(const struct qemu_plugin_tb* tb);
void qemu_plugin_register_vcpu_tb_exec_inline(struct qemu_plugin_tb* tb, enum qemu_plugin_op op,
                                              void* ptr, uint64_t imm);
void qemu_plugin_register_atexit_cb(qemu_plugin_id_t id, qemu_plugin_udata_cb_t cb, void* userdata);

EXPORT int qemu_plugin_version = 1;

/* One counter for the whole process: the programs counted run their cycle on one thread. */
static uint64_t instructions;
static char out_path[4096];

static void on_translate(qemu_plugin_id_t id, struct qemu_plugin_tb* tb) {
  (void)id;
  qemu_plugin_register_vcpu_tb_exec_inline(tb, QEMU_PLUGIN_INLINE_ADD_U64, &instructions,
                                           qemu_plugin_tb_n_insns(tb));
}

static void report_at_exit(qemu_plugin_id_t id, void* userdata) {
  (void)id;
  (void)userdata;
  FILE* f = out_path[0] ? fopen(out_path, "w") : stderr;
  if (f == NULL) {
    fprintf(stderr, "insn_count: cannot write %s\n", out_path);
    return;
  }
  fprintf(f, "%" PRIu64 "\n", instructions);
  if (f != stderr) fclose(f);
}

EXPORT int qemu_plugin_install(qemu_plugin_id_t id, const struct qemu_info_t* info, int argc,
                               char** argv) {
  (void)info;
  for (int i = 0; i < argc; ++i) {
    if (strncmp(argv[i], "out=", 4) == 0 && strlen(argv[i] + 4) < sizeof out_path) {
      strcpy(out_path, argv[i] + 4);
    } else {
      fprintf(stderr, "insn_count: unknown argument %s (only out=PATH)\n", argv[i]);
      return -1;
    }
  }
  qemu_plugin_register_vcpu_tb_trans_cb(id, on_translate);
  qemu_plugin_register_atexit_cb(id, report_at_exit, NULL);
  return 0;
}
