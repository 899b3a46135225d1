// Our own declarations of the Half-Life engine and game-DLL interfaces: only the layouts, enums
// and function tables this plugin and its simulated host touch. Layouts must match real 32-bit
// servers byte for byte; the i386 build checks every size and offset we rely on (sdk_checks.h).
#pragma once

#include <cstdint>

typedef unsigned char byte;
typedef int qboolean;
typedef int int32;
typedef unsigned int uint32;
typedef unsigned int CRC32_t;
typedef float vec3_t[3];
// An offset from gpGlobals->pStringBase on every target. Unsigned: on i386 it can exceed 2^31.
typedef unsigned int string_t;

struct edict_s;
typedef struct edict_s edict_t;
struct cvar_s;
typedef struct cvar_s cvar_t;

// Only ever pointed to.
struct TraceResult;
struct KeyValueData;
struct SAVERESTOREDATA;
struct TYPEDESCRIPTION;
struct customization_t;
struct sequenceEntry_s;
struct sentenceEntry_s;
struct delta_s;
struct entity_state_s;
struct playermove_s;
struct clientdata_s;
struct weapon_data_s;
struct usercmd_s;
struct netadr_s;

enum ALERT_TYPE { at_notice = 0, at_console, at_aiconsole, at_warning, at_error, at_logged };
enum PRINT_TYPE { print_console = 0, print_center, print_chat };
enum FORCE_TYPE {
    force_exactfile = 0,
    force_model_samebounds,
    force_model_specifybounds,
    force_model_specifybounds_if_avail
};

// Message destinations (first argument of pfnMessageBegin).
enum {
    MSG_BROADCAST = 0, MSG_ONE = 1, MSG_ALL = 2, MSG_INIT = 3, MSG_PVS = 4, MSG_PAS = 5,
    MSG_PVS_R = 6, MSG_PAS_R = 7, MSG_ONE_UNRELIABLE = 8, MSG_SPEC = 9
};

enum {
    MOVETYPE_NONE = 0, MOVETYPE_WALK = 3, MOVETYPE_STEP = 4, MOVETYPE_FLY = 5, MOVETYPE_TOSS = 6,
    MOVETYPE_PUSH = 7, MOVETYPE_NOCLIP = 8, MOVETYPE_FLYMISSILE = 9, MOVETYPE_BOUNCE = 10,
    MOVETYPE_BOUNCEMISSILE = 11, MOVETYPE_FOLLOW = 12, MOVETYPE_PUSHSTEP = 13
};

enum { DEAD_NO = 0, DEAD_DYING = 1, DEAD_DEAD = 2, DEAD_RESPAWNABLE = 3, DEAD_DISCARDBODY = 4 };

enum {
    CHAN_AUTO = 0, CHAN_WEAPON = 1, CHAN_VOICE = 2, CHAN_ITEM = 3, CHAN_BODY = 4, CHAN_STREAM = 5,
    CHAN_STATIC = 6
};

enum : unsigned {
    FL_CLIENT = 1u << 3, FL_ONGROUND = 1u << 9, FL_FAKECLIENT = 1u << 13, FL_SPECTATOR = 1u << 26,
    FL_KILLME = 1u << 30
};

enum {
    FCVAR_ARCHIVE = 1 << 0, FCVAR_USERINFO = 1 << 1, FCVAR_SERVER = 1 << 2, FCVAR_EXTDLL = 1 << 3,
    FCVAR_CLIENTDLL = 1 << 4, FCVAR_PROTECTED = 1 << 5, FCVAR_SPONLY = 1 << 6,
    FCVAR_PRINTABLEONLY = 1 << 7, FCVAR_UNLOGGED = 1 << 8
};

struct cvar_s {
    const char* name;
    const char* string;
    int flags;
    float value;
    struct cvar_s* next;
};

struct globalvars_t {
    float time;  // 0
    float frametime;  // 4
    float force_retouch;  // 8
    string_t mapname;  // 12
    string_t startspot;  // 16
    float deathmatch;  // 20
    float coop;  // 24
    float teamplay;  // 28
    float serverflags;  // 32
    float found_secrets;  // 36
    vec3_t v_forward;  // 40
    vec3_t v_up;  // 52
    vec3_t v_right;  // 64
    float trace_allsolid;  // 76
    float trace_startsolid;  // 80
    float trace_fraction;  // 84
    vec3_t trace_endpos;  // 88
    vec3_t trace_plane_normal;  // 100
    float trace_plane_dist;  // 112
    struct edict_s* trace_ent;  // 116
    float trace_inopen;  // 120
    float trace_inwater;  // 124
    int trace_hitgroup;  // 128
    int trace_flags;  // 132
    int msg_entity;  // 136
    int cdAudioTrack;  // 140
    int maxClients;  // 144
    int maxEntities;  // 148
    const char * pStringBase;  // 152
    void * pSaveData;  // 156
    vec3_t vecLandmarkOffset;  // 160
};

struct entvars_s {
    string_t classname;  // 0
    string_t globalname;  // 4
    vec3_t origin;  // 8
    vec3_t oldorigin;  // 20
    vec3_t velocity;  // 32
    vec3_t basevelocity;  // 44
    vec3_t clbasevelocity;  // 56
    vec3_t movedir;  // 68
    vec3_t angles;  // 80
    vec3_t avelocity;  // 92
    vec3_t punchangle;  // 104
    vec3_t v_angle;  // 116
    vec3_t endpos;  // 128
    vec3_t startpos;  // 140
    float impacttime;  // 152
    float starttime;  // 156
    int fixangle;  // 160
    float idealpitch;  // 164
    float pitch_speed;  // 168
    float ideal_yaw;  // 172
    float yaw_speed;  // 176
    int modelindex;  // 180
    string_t model;  // 184
    int viewmodel;  // 188
    int weaponmodel;  // 192
    vec3_t absmin;  // 196
    vec3_t absmax;  // 208
    vec3_t mins;  // 220
    vec3_t maxs;  // 232
    vec3_t size;  // 244
    float ltime;  // 256
    float nextthink;  // 260
    int movetype;  // 264
    int solid;  // 268
    int skin;  // 272
    int body;  // 276
    int effects;  // 280
    float gravity;  // 284
    float friction;  // 288
    int light_level;  // 292
    int sequence;  // 296
    int gaitsequence;  // 300
    float frame;  // 304
    float animtime;  // 308
    float framerate;  // 312
    byte controller[4];  // 316
    byte blending[2];  // 320
    float scale;  // 324
    int rendermode;  // 328
    float renderamt;  // 332
    vec3_t rendercolor;  // 336
    int renderfx;  // 348
    float health;  // 352
    float frags;  // 356
    int weapons;  // 360
    float takedamage;  // 364
    int deadflag;  // 368
    vec3_t view_ofs;  // 372
    int button;  // 384
    int impulse;  // 388
    struct edict_s* chain;  // 392
    struct edict_s* dmg_inflictor;  // 396
    struct edict_s* enemy;  // 400
    struct edict_s* aiment;  // 404
    struct edict_s* owner;  // 408
    struct edict_s* groundentity;  // 412
    int spawnflags;  // 416
    int flags;  // 420
    int colormap;  // 424
    int team;  // 428
    float max_health;  // 432
    float teleport_time;  // 436
    float armortype;  // 440
    float armorvalue;  // 444
    int waterlevel;  // 448
    int watertype;  // 452
    string_t target;  // 456
    string_t targetname;  // 460
    string_t netname;  // 464
    string_t message;  // 468
    float dmg_take;  // 472
    float dmg_save;  // 476
    float dmg;  // 480
    float dmgtime;  // 484
    string_t noise;  // 488
    string_t noise1;  // 492
    string_t noise2;  // 496
    string_t noise3;  // 500
    float speed;  // 504
    float air_finished;  // 508
    float pain_finished;  // 512
    float radsuit_finished;  // 516
    struct edict_s* pContainingEntity;  // 520
    int playerclass;  // 524
    float maxspeed;  // 528
    float fov;  // 532
    int weaponanim;  // 536
    int pushmsec;  // 540
    int bInDuck;  // 544
    int flTimeStepSound;  // 548
    int flSwimTime;  // 552
    int flDuckTime;  // 556
    int iStepLeft;  // 560
    float flFallVelocity;  // 564
    int gamestate;  // 568
    int oldbuttons;  // 572
    int groupinfo;  // 576
    int iuser1;  // 580
    int iuser2;  // 584
    int iuser3;  // 588
    int iuser4;  // 592
    float fuser1;  // 596
    float fuser2;  // 600
    float fuser3;  // 604
    float fuser4;  // 608
    vec3_t vuser1;  // 612
    vec3_t vuser2;  // 624
    vec3_t vuser3;  // 636
    vec3_t vuser4;  // 648
    struct edict_s* euser1;  // 660
    struct edict_s* euser2;  // 664
    struct edict_s* euser3;  // 668
    struct edict_s* euser4;  // 672
};
typedef struct entvars_s entvars_t;

struct link_t {
    struct link_t* prev;
    struct link_t* next;
};

constexpr int MAX_ENT_LEAFS = 48;

struct edict_s {
    qboolean free;
    int serialnumber;
    link_t area;
    int headnode;
    int num_leafs;
    short leafnums[MAX_ENT_LEAFS];
    float freetime;
    void* pvPrivateData;
    entvars_t v;
};

// The engine table: the 155-entry prefix that every engine since 2003 shares. Newer engines
// append entries; we copy and hand back only these. All entries are cdecl.
struct enginefuncs_s {
    int (*pfnPrecacheModel)(char *);  // 0
    int (*pfnPrecacheSound)(char *);  // 1
    void (*pfnSetModel)(edict_t *, const char *);  // 2
    int (*pfnModelIndex)(const char *);  // 3
    int (*pfnModelFrames)(int);  // 4
    void (*pfnSetSize)(edict_t *, const float *, const float *);  // 5
    void (*pfnChangeLevel)(char *, char *);  // 6
    void (*pfnGetSpawnParms)(edict_t *);  // 7
    void (*pfnSaveSpawnParms)(edict_t *);  // 8
    float (*pfnVecToYaw)(const float *);  // 9
    void (*pfnVecToAngles)(const float *, float *);  // 10
    void (*pfnMoveToOrigin)(edict_t *, const float *, float, int);  // 11
    void (*pfnChangeYaw)(edict_t *);  // 12
    void (*pfnChangePitch)(edict_t *);  // 13
    edict_t * (*pfnFindEntityByString)(edict_t *, const char *, const char *);  // 14
    int (*pfnGetEntityIllum)(edict_t *);  // 15
    edict_t * (*pfnFindEntityInSphere)(edict_t *, const float *, float);  // 16
    edict_t * (*pfnFindClientInPVS)(edict_t *);  // 17
    edict_t * (*pfnEntitiesInPVS)(edict_t *);  // 18
    void (*pfnMakeVectors)(const float *);  // 19
    void (*pfnAngleVectors)(const float *, float *, float *, float *);  // 20
    edict_t * (*pfnCreateEntity)();  // 21
    void (*pfnRemoveEntity)(edict_t *);  // 22
    edict_t * (*pfnCreateNamedEntity)(int);  // 23
    void (*pfnMakeStatic)(edict_t *);  // 24
    int (*pfnEntIsOnFloor)(edict_t *);  // 25
    int (*pfnDropToFloor)(edict_t *);  // 26
    int (*pfnWalkMove)(edict_t *, float, float, int);  // 27
    void (*pfnSetOrigin)(edict_t *, const float *);  // 28
    void (*pfnEmitSound)(edict_t *, int, const char *, float, float, int, int);  // 29
    void (*pfnEmitAmbientSound)(edict_t *, float *, const char *, float, float, int, int);  // 30
    void (*pfnTraceLine)(const float *, const float *, int, edict_t *, TraceResult *);  // 31
    void (*pfnTraceToss)(edict_t *, edict_t *, TraceResult *);  // 32
    int (*pfnTraceMonsterHull)(edict_t *, const float *, const float *, int, edict_t *, TraceResult *);  // 33
    void (*pfnTraceHull)(const float *, const float *, int, int, edict_t *, TraceResult *);  // 34
    void (*pfnTraceModel)(const float *, const float *, int, edict_t *, TraceResult *);  // 35
    const char * (*pfnTraceTexture)(edict_t *, const float *, const float *);  // 36
    void (*pfnTraceSphere)(const float *, const float *, int, float, edict_t *, TraceResult *);  // 37
    void (*pfnGetAimVector)(edict_t *, float, float *);  // 38
    void (*pfnServerCommand)(char *);  // 39
    void (*pfnServerExecute)();  // 40
    void (*pfnClientCommand)(edict_t *, char *, ...);  // 41
    void (*pfnParticleEffect)(const float *, const float *, float, float);  // 42
    void (*pfnLightStyle)(int, char *);  // 43
    int (*pfnDecalIndex)(const char *);  // 44
    int (*pfnPointContents)(const float *);  // 45
    void (*pfnMessageBegin)(int, int, const float *, edict_t *);  // 46
    void (*pfnMessageEnd)();  // 47
    void (*pfnWriteByte)(int);  // 48
    void (*pfnWriteChar)(int);  // 49
    void (*pfnWriteShort)(int);  // 50
    void (*pfnWriteLong)(int);  // 51
    void (*pfnWriteAngle)(float);  // 52
    void (*pfnWriteCoord)(float);  // 53
    void (*pfnWriteString)(const char *);  // 54
    void (*pfnWriteEntity)(int);  // 55
    void (*pfnCVarRegister)(cvar_t *);  // 56
    float (*pfnCVarGetFloat)(const char *);  // 57
    const char * (*pfnCVarGetString)(const char *);  // 58
    void (*pfnCVarSetFloat)(const char *, float);  // 59
    void (*pfnCVarSetString)(const char *, const char *);  // 60
    void (*pfnAlertMessage)(ALERT_TYPE, char *, ...);  // 61
    void (*pfnEngineFprintf)(void *, char *, ...);  // 62
    void * (*pfnPvAllocEntPrivateData)(edict_t *, int32);  // 63
    void * (*pfnPvEntPrivateData)(edict_t *);  // 64
    void (*pfnFreeEntPrivateData)(edict_t *);  // 65
    const char * (*pfnSzFromIndex)(int);  // 66
    int (*pfnAllocString)(const char *);  // 67
    struct entvars_s * (*pfnGetVarsOfEnt)(edict_t *);  // 68
    edict_t * (*pfnPEntityOfEntOffset)(int);  // 69
    int (*pfnEntOffsetOfPEntity)(const edict_t *);  // 70
    int (*pfnIndexOfEdict)(const edict_t *);  // 71
    edict_t * (*pfnPEntityOfEntIndex)(int);  // 72
    edict_t * (*pfnFindEntityByVars)(struct entvars_s *);  // 73
    void * (*pfnGetModelPtr)(edict_t *);  // 74
    int (*pfnRegUserMsg)(const char *, int);  // 75
    void (*pfnAnimationAutomove)(const edict_t *, float);  // 76
    void (*pfnGetBonePosition)(const edict_t *, int, float *, float *);  // 77
    uint32 (*pfnFunctionFromName)(const char *);  // 78
    const char * (*pfnNameForFunction)(uint32);  // 79
    void (*pfnClientPrintf)(edict_t *, PRINT_TYPE, const char *);  // 80
    void (*pfnServerPrint)(const char *);  // 81
    const char * (*pfnCmd_Args)();  // 82
    const char * (*pfnCmd_Argv)(int);  // 83
    int (*pfnCmd_Argc)();  // 84
    void (*pfnGetAttachment)(const edict_t *, int, float *, float *);  // 85
    void (*pfnCRC32_Init)(CRC32_t *);  // 86
    void (*pfnCRC32_ProcessBuffer)(CRC32_t *, void *, int);  // 87
    void (*pfnCRC32_ProcessByte)(CRC32_t *, unsigned char);  // 88
    CRC32_t (*pfnCRC32_Final)(CRC32_t);  // 89
    int32 (*pfnRandomLong)(int32, int32);  // 90
    float (*pfnRandomFloat)(float, float);  // 91
    void (*pfnSetView)(const edict_t *, const edict_t *);  // 92
    float (*pfnTime)();  // 93
    void (*pfnCrosshairAngle)(const edict_t *, float, float);  // 94
    byte * (*pfnLoadFileForMe)(char *, int *);  // 95
    void (*pfnFreeFile)(void *);  // 96
    void (*pfnEndSection)(const char *);  // 97
    int (*pfnCompareFileTime)(char *, char *, int *);  // 98
    void (*pfnGetGameDir)(char *);  // 99
    void (*pfnCvar_RegisterVariable)(cvar_t *);  // 100
    void (*pfnFadeClientVolume)(const edict_t *, int, int, int, int);  // 101
    void (*pfnSetClientMaxspeed)(const edict_t *, float);  // 102
    edict_t * (*pfnCreateFakeClient)(const char *);  // 103
    void (*pfnRunPlayerMove)(edict_t *, const float *, float, float, float, unsigned short, byte, byte);  // 104
    int (*pfnNumberOfEntities)();  // 105
    char * (*pfnGetInfoKeyBuffer)(edict_t *);  // 106
    char * (*pfnInfoKeyValue)(char *, char *);  // 107
    void (*pfnSetKeyValue)(char *, char *, char *);  // 108
    void (*pfnSetClientKeyValue)(int, char *, char *, char *);  // 109
    int (*pfnIsMapValid)(char *);  // 110
    void (*pfnStaticDecal)(const float *, int, int, int);  // 111
    int (*pfnPrecacheGeneric)(char *);  // 112
    int (*pfnGetPlayerUserId)(edict_t *);  // 113
    void (*pfnBuildSoundMsg)(edict_t *, int, const char *, float, float, int, int, int, int, const float *, edict_t *);  // 114
    int (*pfnIsDedicatedServer)();  // 115
    cvar_t * (*pfnCVarGetPointer)(const char *);  // 116
    unsigned int (*pfnGetPlayerWONId)(edict_t *);  // 117
    void (*pfnInfo_RemoveKey)(char *, const char *);  // 118
    const char * (*pfnGetPhysicsKeyValue)(const edict_t *, const char *);  // 119
    void (*pfnSetPhysicsKeyValue)(const edict_t *, const char *, const char *);  // 120
    const char * (*pfnGetPhysicsInfoString)(const edict_t *);  // 121
    unsigned short (*pfnPrecacheEvent)(int, const char *);  // 122
    void (*pfnPlaybackEvent)(int, const edict_t *, unsigned short, float, float *, float *, float, float, int, int, int, int);  // 123
    unsigned char * (*pfnSetFatPVS)(float *);  // 124
    unsigned char * (*pfnSetFatPAS)(float *);  // 125
    int (*pfnCheckVisibility)(const edict_t *, unsigned char *);  // 126
    void (*pfnDeltaSetField)(struct delta_s *, const char *);  // 127
    void (*pfnDeltaUnsetField)(struct delta_s *, const char *);  // 128
    void (*pfnDeltaAddEncoder)(char *, void (*)(struct delta_s *, const unsigned char *, const unsigned char *));  // 129
    int (*pfnGetCurrentPlayer)();  // 130
    int (*pfnCanSkipPlayer)(const edict_t *);  // 131
    int (*pfnDeltaFindField)(struct delta_s *, const char *);  // 132
    void (*pfnDeltaSetFieldByIndex)(struct delta_s *, int);  // 133
    void (*pfnDeltaUnsetFieldByIndex)(struct delta_s *, int);  // 134
    void (*pfnSetGroupMask)(int, int);  // 135
    int (*pfnCreateInstancedBaseline)(int, struct entity_state_s *);  // 136
    void (*pfnCvar_DirectSet)(struct cvar_s *, char *);  // 137
    void (*pfnForceUnmodified)(FORCE_TYPE, float *, float *, const char *);  // 138
    void (*pfnGetPlayerStats)(const edict_t *, int *, int *);  // 139
    void (*pfnAddServerCommand)(char *, void (*)(void));  // 140
    qboolean (*pfnVoice_GetClientListening)(int, int);  // 141
    qboolean (*pfnVoice_SetClientListening)(int, int, qboolean);  // 142
    const char * (*pfnGetPlayerAuthId)(edict_t *);  // 143
    sequenceEntry_s * (*pfnSequenceGet)(const char *, const char *);  // 144
    sentenceEntry_s * (*pfnSequencePickSentence)(const char *, int, int *);  // 145
    int (*pfnGetFileSize)(char *);  // 146
    unsigned int (*pfnGetApproxWavePlayLen)(const char *);  // 147
    int (*pfnIsCareerMatch)();  // 148
    int (*pfnGetLocalizedStringLength)(const char *);  // 149
    void (*pfnRegisterTutorMessageShown)(int);  // 150
    int (*pfnGetTimesTutorMessageShown)(int);  // 151
    void (*ProcessTutorMessageDecayBuffer)(int *, int);  // 152
    void (*ConstructTutorMessageDecayBuffer)(int *, int);  // 153
    void (*ResetTutorMessageDecayData)();  // 154
};
typedef struct enginefuncs_s enginefuncs_t;

// Slot 40 (pfnCreateBaseline) is spelled two ways in the SDK; we never hook or call it.
struct DLL_FUNCTIONS {
    void (*pfnGameInit)();  // 0
    int (*pfnSpawn)(edict_t *);  // 1
    void (*pfnThink)(edict_t *);  // 2
    void (*pfnUse)(edict_t *, edict_t *);  // 3
    void (*pfnTouch)(edict_t *, edict_t *);  // 4
    void (*pfnBlocked)(edict_t *, edict_t *);  // 5
    void (*pfnKeyValue)(edict_t *, KeyValueData *);  // 6
    void (*pfnSave)(edict_t *, SAVERESTOREDATA *);  // 7
    int (*pfnRestore)(edict_t *, SAVERESTOREDATA *, int);  // 8
    void (*pfnSetAbsBox)(edict_t *);  // 9
    void (*pfnSaveWriteFields)(SAVERESTOREDATA *, const char *, void *, TYPEDESCRIPTION *, int);  // 10
    void (*pfnSaveReadFields)(SAVERESTOREDATA *, const char *, void *, TYPEDESCRIPTION *, int);  // 11
    void (*pfnSaveGlobalState)(SAVERESTOREDATA *);  // 12
    void (*pfnRestoreGlobalState)(SAVERESTOREDATA *);  // 13
    void (*pfnResetGlobalState)();  // 14
    qboolean (*pfnClientConnect)(edict_t *, const char *, const char *, char *);  // 15
    void (*pfnClientDisconnect)(edict_t *);  // 16
    void (*pfnClientKill)(edict_t *);  // 17
    void (*pfnClientPutInServer)(edict_t *);  // 18
    void (*pfnClientCommand)(edict_t *);  // 19
    void (*pfnClientUserInfoChanged)(edict_t *, char *);  // 20
    void (*pfnServerActivate)(edict_t *, int, int);  // 21
    void (*pfnServerDeactivate)();  // 22
    void (*pfnPlayerPreThink)(edict_t *);  // 23
    void (*pfnPlayerPostThink)(edict_t *);  // 24
    void (*pfnStartFrame)();  // 25
    void (*pfnParmsNewLevel)();  // 26
    void (*pfnParmsChangeLevel)();  // 27
    const char * (*pfnGetGameDescription)();  // 28
    void (*pfnPlayerCustomization)(edict_t *, customization_t *);  // 29
    void (*pfnSpectatorConnect)(edict_t *);  // 30
    void (*pfnSpectatorDisconnect)(edict_t *);  // 31
    void (*pfnSpectatorThink)(edict_t *);  // 32
    void (*pfnSys_Error)(const char *);  // 33
    void (*pfnPM_Move)(struct playermove_s *, qboolean);  // 34
    void (*pfnPM_Init)(struct playermove_s *);  // 35
    char (*pfnPM_FindTextureType)(char *);  // 36
    void (*pfnSetupVisibility)(struct edict_s *, struct edict_s *, unsigned char **, unsigned char **);  // 37
    void (*pfnUpdateClientData)(const struct edict_s *, int, struct clientdata_s *);  // 38
    int (*pfnAddToFullPack)(struct entity_state_s *, int, edict_t *, edict_t *, int, int, unsigned char *);  // 39
    void (*pfnCreateBaseline)(int, int, struct entity_state_s *, struct edict_s *, int, float *, float *);  // 40
    void (*pfnRegisterEncoders)();  // 41
    int (*pfnGetWeaponData)(struct edict_s *, struct weapon_data_s *);  // 42
    void (*pfnCmdStart)(const edict_t *, const struct usercmd_s *, unsigned int);  // 43
    void (*pfnCmdEnd)(const edict_t *);  // 44
    int (*pfnConnectionlessPacket)(const struct netadr_s *, const char *, char *, int *);  // 45
    int (*pfnGetHullBounds)(int, float *, float *);  // 46
    void (*pfnCreateInstancedBaselines)();  // 47
    int (*pfnInconsistentFile)(const struct edict_s *, const char *, char *);  // 48
    int (*pfnAllowLagCompensation)();  // 49
};

// The first three entries of the game DLL's optional table; newer games append two.
struct NEW_DLL_FUNCTIONS {
    void (*pfnOnFreeEntPrivateData)(edict_t *);  // 0
    void (*pfnGameShutdown)();  // 1
    int (*pfnShouldCollide)(edict_t *, edict_t *);  // 2
};

constexpr int ENGINE_FUNCTION_COUNT = 155;
constexpr int DLL_FUNCTION_COUNT = 50;
constexpr int NEW_DLL_FUNCTION_COUNT = 3;
constexpr int INTERFACE_VERSION = 140;
constexpr int ENGINE_INTERFACE_VERSION = 138;
constexpr int NEW_DLL_FUNCTIONS_VERSION = 1;
